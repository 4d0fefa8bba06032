#include "thumbnail/ql_thumbnail_extensions.h"

#include <boost/filesystem/path.hpp>
#include <cctype>

std::string LowerCaseExtension(std::string const& path) {
  std::string extension = boost::filesystem::path(path).extension().string();
  if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

// clang-format off
char const* const unsupported_ext_img_format[368] = {
    "001", "2bp", "360", "3fr", "411", "8pbs", "8xi", "abm", "acr", "adc", "afx", "agif", "agp",
    "aic", "ais", "albm", "apd", "apm", "apng", "aps", "apx", "arr", "art", "artwork", "arw", "asw",
    "avatar", "awd", "blkrt", "blz", "bm2", "bmc", "bmf", "bmp", "brk", "brt", "c4", "cal", "cals",
    "cam", "can", "cd5", "cdc", "cdg", "ce", "cimg", "cin", "cit", "cpc", "cpd", "cpg", "cps",
    "cpt", "cpx", "cr2", "crw", "csf", "ct", "cut", "dc2", "dcm", "dcr", "dcx", "ddb", "dds", "ddt",
    "dib", "dicom", "djv", "djvu", "dng", "dpx", "dt2", "dtw", "dvl", "ecw", "epp", "erf", "exr",
    "fac", "face", "fal", "fax", "fbm", "fil", "fits", "fpg", "fpos", "fpx", "frm", "gbr", "gcdp",
    "gfb", "gfie", "gif", "gih", "gim", "gmbck", "gp4", "gpd", "gro", "grob", "gry", "hdp", "hdr",
    "hf", "hpi", "hr", "hrf", "i3d", "ic1", "ic2", "ic3", "ica", "icb", "icn", "icon", "icpr",
    "ilbm", "img", "imj", "info", "ink", "int", "ipx", "itc2", "ithmb", "ivr", "iwi", "j", "j2c",
    "j2k", "jas", "jb2", "jbf", "jbig", "jbmp", "jbr", "jfi", "jfif", "jia", "jif", "jiff", "jng",
    "jp2", "jpc", "jpd", "jpe", "jpeg", "jpf", "jpg", "jps", "jpx", "jtf", "jwl", "jxr", "kdc",
    "kdi", "kdk", "kfx", "kic", "kodak", "kpg", "lbm", "lif", "ljp", "mac", "mat", "max", "mbm",
    "mcs", "mef", "met", "mic", "mip", "mix", "mng", "mnr", "mos", "mpf", "mpo", "mrb", "mrw",
    "mrxs", "msk", "msp", "mxi", "ncd", "ncr", "nct", "nef", "neo", "nrw", "odi", "omf", "orf",
    "ota", "otb", "oti", "pac", "pal", "pap", "pat", "pbm", "pc1", "pc2", "pc3", "pcd", "pcx",
    "pdd", "pdn", "pe4", "pef", "pfr", "pgf", "pgm", "pi1", "pi2", "pi3", "pi4", "pi5", "pi6",
    "pic", "picnc", "pict", "pictclipping", "pix", "pjpeg", "pjpg", "pm", "pm3", "pmg", "png",
    "pni", "pnm", "pns", "pnt", "pntg", "pop", "pov", "pp4", "pp5", "ppf", "ppm", "prw", "psb",
    "psd", "pse", "psf", "psp", "pspbrush", "pspimage", "ptg", "ptx", "pvr", "pwp", "px", "pxm",
    "pxr", "pzp", "qif", "qmg", "qti", "qtif", "raf", "ras", "raw", "rgb", "ric", "rif", "riff",
    "rix", "rle", "rpf", "rsb", "rsr", "rw2", "rwl", "s2mv", "sar", "scg", "sci", "scp", "sct",
    "scu", "sdr", "sfc", "sff", "sfw", "sgi", "shg", "sid", "sig", "sim", "skitch", "skm", "sld",
    "smp", "sob", "spc", "spe", "spiff", "spj", "spp", "spr", "sprite", "spu", "sr", "sr2", "srf",
    "srw", "ste", "sumo", "sun", "suniff", "sup", "sva", "t2b", "taac", "tb0", "tex", "tg4", "tga",
    "thm", "thumb", "tif", "tiff", "tjp", "tn1", "tn2", "tn3", "tny", "tpi", "trif", "tub", "u",
    "ufo", "urt", "usertile-ms", "v", "vda", "vff", "vic", "viff", "vna", "vss", "vst", "wb1",
    "wbc", "wbd", "wbm", "wbmp", "wbz", "wdp", "webp", "wi", "wic", "wmp", "wvl", "x3f", "xbm",
    "xcf", "xpm", "xwd", "y", "ysp", "yuv", "zif",
};

char const* const unsuported_ext_audio_format[452] = {
    "4mp", "669", "6cm", "8cm", "8med", "8svx", "a2m", "a52", "aa", "aa3", "aac", "aax", "ab",
    "abc", "abm", "ac3", "acd", "acd-bak", "acd-zip", "acm", "acp", "act", "adg", "adt", "adts",
    "adv", "afc", "agm", "ahx", "aif", "aifc", "aiff", "ais", "akp", "al", "alac", "alaw", "alc",
    "all", "als", "amf", "amr", "ams", "amxd", "aob", "ape", "apf", "apl", "aria", "ariax", "asd",
    "ase", "at3", "atrac", "au", "aud", "aup", "avr", "awb", "ay", "b4s", "band", "bap", "bdd",
    "bidule", "box", "brstm", "bun", "bwf", "c01", "caf", "cda", "cdda", "cdr", "cel", "cfa",
    "cfxr", "cidb", "cmf", "copy", "cpr", "cpt", "csh", "cwp", "d00", "d01", "dcf", "dcm", "dct",
    "ddt", "dewf", "df2", "dfc", "dig", "dls", "dm", "dmf", "dmsa", "dmse", "dra", "drg", "ds",
    "ds2", "dsf", "dsm", "dsp", "dss", "dtm", "dts", "dtshd", "dvf", "dwd", "ear", "efa", "efe",
    "efk", "efq", "efs", "efv", "emd", "emp", "emx", "esps", "expressionmap", "f2r", "f32", "f3r",
    "f4a", "f64", "far", "fda", "fff", "flac", "flp", "fls", "frg", "fsm", "ftm", "fzb", "fzf",
    "fzv", "g721", "g723", "g726", "gbproj", "gbs", "gig", "gm", "gp5", "gpbank", "gpk", "gpx",
    "groove", "gsm", "h0", "hdp", "hma", "hsb", "ics", "iff", "igp", "igr", "imf", "imp", "ins",
    "it", "iti", "its", "jam", "jo", "jo-7z", "k25", "k26", "kar", "kfn", "kin", "kit", "kmp",
    "koz", "kpl", "krz", "ksc", "ksf", "kt2", "kt3", "ktp", "l", "la", "lqt", "lso", "lvp", "lwv",
    "m1a", "m3u", "m3u8", "m4a", "m4b", "m4p", "m4r", "ma1", "mbr", "mdl", "med", "mgv", "mid",
    "midi", "miniusf", "mka", "mlp", "mmf", "mmm", "mmp", "mo3", "mod", "mp1", "mp2", "mp3", "mp_",
    "mpa", "mpc", "mpga", "mpu", "mscx", "mscz", "msv", "mt2", "mt9", "mte", "mtf", "mti", "mtm",
    "mtp", "mts", "mus", "musa", "mws", "mxl", "mxmf", "mzp", "nap", "ncw", "nkb", "nki", "nkm",
    "nks", "nkx", "npl", "nra", "nrt", "nsa", "nsf", "nst", "ntn", "nvf", "nwc", "odm", "ofr",
    "oga", "ogg", "okt", "oma", "omf", "omg", "omx", "orc", "ots", "ove", "ovw", "pac", "pat",
    "pbf", "pca", "pcast", "pcg", "pcm", "pd", "peak", "pek", "pho", "phy", "pk", "pkf", "pla",
    "pls", "pna", "ppc", "ppcx", "prg", "psf", "psm", "psy", "ptf", "ptm", "pts", "pvc", "qcp", "r",
    "r1m", "ra", "ram", "raw", "rax", "rbs", "rcy", "rex", "rfl", "rip", "rmf", "rmi", "rmj", "rmm",
    "rmx", "rng", "rns", "rol", "rsn", "rso", "rti", "rtm", "rts", "rvx", "rx2", "s3i", "s3m",
    "s3z", "saf", "sam", "sap", "sb", "sbg", "sbi", "sbk", "sc2", "sd", "sd2", "sd2f", "sdat",
    "sdii", "sds", "sdt", "sdx", "seg", "seq", "ses", "sesx", "sf", "sf2", "sfap0", "sfk", "sfl",
    "sfs", "shn", "sib", "sid", "smf", "smp", "snd", "sng", "sou", "sppack", "sprg", "spx", "sseq",
    "ssnd", "stm", "stx", "sty", "svd", "svx", "sw", "swa", "syh", "syn", "syw", "syx", "tak",
    "td0", "tfmx", "tg", "thx", "toc", "tsp", "tta", "txw", "u", "uax", "ub", "ulaw", "ult", "ulw",
    "uni", "usf", "usflib", "uw", "uwf", "vag", "val", "vap", "vb", "vc3", "vdj", "vgm", "vgz",
    "vmd", "vmf", "voc", "voi", "vox", "vpm", "vqf", "vrf", "vtx", "vyf", "w01", "w64", "wav",
    "wave", "wax", "wfb", "wfd", "wfp", "wma", "wow", "wpk", "wproj", "wrk", "wtpl", "wtpt", "wus",
    "wut", "wv", "wvc", "wve", "wwu", "wyz", "xa", "xfs", "xi", "xm", "xmf", "xmi", "xmz", "xp",
    "xrns", "xsb", "xspf", "xt", "xwb", "ym", "zpl", "zvd", "zvr",
};

char const* const unsuported_ext_video_format[319] = {
    "264", "3g2", "3gp", "3gp2", "3gpp", "3gpp2", "3mm", "3p2", "60d", "787", "aaf", "aep", "aepx",
    "aet", "aetx", "ajp", "ale", "amv", "amx", "anim", "arf", "asf", "asx", "avb", "avd", "avi",
    "avp", "avs", "axm", "bdm", "bdmv", "bik", "bin", "bix", "bmk", "bnp", "box", "bs4", "bsf",
    "byu", "camproj", "camrec", "clpi", "cmmp", "cmmtpl", "cmproj", "cmrec", "cpi", "cst", "cvc",
    "d2v", "d3v", "dat", "dav", "dce", "dck", "ddat", "dif", "dir", "divx", "dlx", "dmb", "dmsd",
    "dmsd3d", "dmsm", "dmsm3d", "dmss", "dnc", "dpa", "dpg", "dream", "dsy", "dv", "dv-avi", "dv4",
    "dvdmedia", "dvr", "dvr-ms", "dvx", "dxr", "dzm", "dzp", "dzt", "edl", "evo", "eye", "f4p",
    "f4v", "fbr", "fbz", "fcp", "fcproject", "flc", "flh", "fli", "flv", "flx", "gfp", "gl",
    "grasp", "gts", "gvi", "gvp", "h264", "hdmov", "hkm", "ifo", "imovieproj", "imovieproject",
    "ism", "ismc", "ismv", "iva", "ivf", "ivr", "ivs", "izz", "izzy", "jts", "jtv", "k3g", "lrec",
    "lsf", "lsx", "m15", "m1pg", "m1v", "m21", "m2a", "m2p", "m2t", "m2ts", "m2v", "m4e", "m4u",
    "m4v", "m75", "meta", "mgv", "mj2", "mjp", "mjpg", "mkv", "mmv", "mnv", "mod", "modd", "moff",
    "moi", "moov", "mov", "movie", "mp21", "mp2v", "mp4", "mp4v", "mpe", "mpeg", "mpeg4", "mpf",
    "mpg", "mpg2", "mpgindex", "mpl", "mpls", "mpsub", "mpv", "mpv2", "mqv", "msdvd", "msh",
    "mswmm", "mts", "mtv", "mvb", "mvc", "mvd", "mve", "mvp", "mvy", "mxf", "mys", "ncor", "nsv",
    "nuv", "nvc", "ogm", "ogv", "ogx", "osp", "par", "pds", "pgi", "photoshow", "piv", "playlist",
    "pmf", "pns", "ppj", "prel", "pro", "prproj", "prtl", "psh", "pssd", "pva", "pvr", "pxv", "qt",
    "qtch", "qtl", "qtm", "qtz", "r3d", "rcproject", "rdb", "rec", "rm", "rmd", "rmp", "rms",
    "rmvb", "roq", "rp", "rsx", "rts", "rum", "rv", "sbk", "sbt", "scc", "scm", "scn", "screenflow",
    "sec", "seq", "sfd", "sfvidcap", "smi", "smil", "smk", "sml", "smv", "spl", "sqz", "srt", "ssm",
    "stl", "str", "stx", "svi", "swf", "swi", "swt", "tda3mt", "tdx", "tivo", "tix", "tod", "tp",
    "tp0", "tpd", "tpr", "trp", "ts", "tsp", "tvs", "vc1", "vcpf", "vcr", "vcv", "vdo", "vdr",
    "veg", "vem", "vf", "vft", "vfw", "vfz", "vgz", "vid", "video", "viewlet", "viv", "vivo",
    "vlab", "vob", "vp3", "vp6", "vp7", "vpj", "vro", "vs4", "vse", "vsp", "w32", "wcp", "webm",
    "wlmp", "wm", "wmd", "wmmp", "wmv", "wmx", "wot", "wp3", "wpl", "wtv", "wvx", "xej", "xel",
    "xesc", "xfl", "xvid", "yuv", "zm1", "zm2", "zm3", "zmv",
};

char const* const unsuported_ext_document_format[7] = {
    "doc", "rtf", "xdoc", "ppt", "pps", "txt", "pdf",
};

char const* const kHeifExtensions[3] = {"heic", "heif", "hif"};
char const* const kCameraRawExtensions[10] = {
    "dng", "cr2", "cr3", "nef", "arw", "orf", "rw2", "raf", "pef", "srw",
};
// clang-format on
