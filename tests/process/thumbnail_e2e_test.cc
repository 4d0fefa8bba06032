// End to end: the real daemon on the real socket, asked by the real client
// (and by raw frames where the client cannot go: invalid bodies, several
// requests on one connection). Every input file is made here.
#include <fcntl.h>
#include <gd.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <boost/shared_ptr.hpp>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ipc/ql_process_helper_socket.h"
#include "support/ql_daemon_launcher.h"
#include "support/ql_temp_dir.h"

namespace {

typedef std::vector<unsigned char> Bytes;
char const kSocketPath[] = "/tmp/qlGDProcesssSocket";

struct Rgb {
  int r, g, b;
};

struct ImageOwner {
  explicit ImageOwner(gdImagePtr i) : image(i) {}
  ~ImageOwner() {
    if (image) gdImageDestroy(image);
  }
  gdImagePtr image;
};

// A photo-like JPEG: one colour with a darker frame, so decoding is real work.
Bytes DrawJpeg(int width, int height, Rgb colour) {
  ImageOwner owner(gdImageCreateTrueColor(width, height));
  gdImageFilledRectangle(owner.image, 0, 0, width - 1, height - 1,
                         gdTrueColor(colour.r / 2, colour.g / 2, colour.b / 2));
  gdImageFilledRectangle(owner.image, width / 8, height / 8, width - width / 8, height - height / 8,
                         gdTrueColor(colour.r, colour.g, colour.b));
  int size = 0;
  void* data = gdImageJpegPtr(owner.image, &size, 92);
  Bytes out(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
  gdFree(data);
  return out;
}

Bytes DrawPng(int width, int height, Rgb colour) {
  ImageOwner owner(gdImageCreateTrueColor(width, height));
  gdImageFilledRectangle(owner.image, 0, 0, width - 1, height - 1,
                         gdTrueColor(colour.r, colour.g, colour.b));
  int size = 0;
  void* data = gdImagePngPtr(owner.image, &size);
  Bytes out(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
  gdFree(data);
  return out;
}

// An MP3 file: an ID3v2.3 tag holding one APIC frame (front cover, JPEG),
// then the start of an MPEG audio frame.
Bytes MakeMp3WithCover(Bytes const& jpeg) {
  Bytes frame;
  frame.push_back(0x00);  // text encoding: ISO-8859-1
  for (char c : std::string("image/jpeg")) frame.push_back(static_cast<unsigned char>(c));
  frame.push_back(0x00);
  frame.push_back(0x03);  // picture type: front cover
  frame.push_back(0x00);  // empty description
  frame.insert(frame.end(), jpeg.begin(), jpeg.end());

  Bytes tag;
  for (char c : std::string("APIC")) tag.push_back(static_cast<unsigned char>(c));
  std::uint32_t const frame_size = static_cast<std::uint32_t>(frame.size());
  for (int shift = 24; shift >= 0; shift -= 8) tag.push_back((frame_size >> shift) & 0xff);
  tag.push_back(0x00);  // frame flags
  tag.push_back(0x00);
  tag.insert(tag.end(), frame.begin(), frame.end());

  Bytes file = {'I', 'D', '3', 0x03, 0x00, 0x00};
  std::uint32_t const tag_size = static_cast<std::uint32_t>(tag.size());
  for (int shift = 21; shift >= 0; shift -= 7) file.push_back((tag_size >> shift) & 0x7f);
  file.insert(file.end(), tag.begin(), tag.end());
  Bytes const audio = {0xff, 0xfb, 0x90, 0x00, 0x00, 0x00, 0x00, 0x00};
  file.insert(file.end(), audio.begin(), audio.end());
  return file;
}

void WriteBytes(std::string const& path, Bytes const& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<char const*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

Bytes ReadBytes(std::string const& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsPng(Bytes const& bytes) {
  static unsigned char const kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  return bytes.size() > 8 && std::memcmp(bytes.data(), kSignature, 8) == 0;
}

bool CentreColour(Bytes const& png, Rgb* colour) {
  if (!IsPng(png)) return false;
  ImageOwner owner(gdImageCreateFromPngPtr(static_cast<int>(png.size()),
                                           const_cast<unsigned char*>(png.data())));
  if (!owner.image) return false;
  int const pixel =
      gdImageGetTrueColorPixel(owner.image, gdImageSX(owner.image) / 2, gdImageSY(owner.image) / 2);
  *colour = {gdTrueColorGetRed(pixel), gdTrueColorGetGreen(pixel), gdTrueColorGetBlue(pixel)};
  return true;
}

bool Near(Rgb a, Rgb b) {
  return std::abs(a.r - b.r) <= 24 && std::abs(a.g - b.g) <= 24 && std::abs(a.b - b.b) <= 24;
}

std::vector<std::string> CacheFiles(std::string const& folder) {
  std::vector<std::string> names;
  boost::system::error_code ignored;
  for (boost::filesystem::directory_iterator it(folder, ignored), end; !ignored && it != end;
       it.increment(ignored)) {
    names.push_back(it->path().filename().string());
  }
  return names;
}

struct ClientRun {
  int status = -1;  // exit status, or -1 when the client did not exit normally
  std::string messages;
};

// Runs the client binary with `arguments`; its standard error is captured.
ClientRun RunClient(std::vector<std::string> const& arguments, std::string const& scratch) {
  std::string const messages_path = scratch + "/client-messages.txt";
  std::vector<char*> argv;
  std::string const binary = QL_CLIENT_BINARY;
  argv.push_back(const_cast<char*>(binary.c_str()));
  for (std::string const& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ClientRun run;
  pid_t const child = fork();
  if (child == 0) {
    int const fd = open(messages_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, 2);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  Bytes const text = ReadBytes(messages_path);
  run.messages.assign(text.begin(), text.end());
  return run;
}

class ThumbnailEndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new QLTempDir();
    daemon_ = new QLDaemonProcess(QL_DAEMON_BINARY, {"-l", "3", "-o", scratch_->path()},
                                  scratch_->path());
    int const fd = ConnectWhenListening(kSocketPath, 10000);
    if (fd >= 0) close(fd);
  }
  static void TearDownTestSuite() {
    if (daemon_->running()) {
      daemon_->Signal(SIGTERM);
      int status = 0;
      daemon_->WaitExit(5000, &status);
    }
    delete daemon_;
    daemon_ = nullptr;
    delete scratch_;
    scratch_ = nullptr;
  }

  void SetUp() override {
    // The socket must be served by our child, not by a daemon started elsewhere.
    ASSERT_TRUE(daemon_->running());
    ASSERT_EQ(daemon_->pid(), LivePidFromPidFile("/var/run/quorlin_gd.pid", "quorlin_gd"))
        << "another quorlin_gd holds the lock or ours did not start";
    cache_ = temp_.File("cache");
    output_ = temp_.File("out.png");
  }

  // Client arguments for one request; `extra` is appended.
  std::vector<std::string> Args(std::string const& path, std::string const& id,
                                std::vector<std::string> const& extra = {}) const {
    std::vector<std::string> args = {"--path",        path,       "--width",
                                     "160",           "--height", "120",
                                     "--resource-id", id,         "--thumbnail-folder",
                                     cache_,          "--output", output_};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  // A raw connection to the daemon, for what the client cannot send.
  boost::shared_ptr<QLProcessHelperSocket> Connect() {
    boost::shared_ptr<QLProcessHelperSocket> socket(new QLProcessHelperSocket(kSocketPath));
    socket->set_m_sock(ConnectWhenListening(kSocketPath, 5000));
    struct timeval timeout = {10, 0};
    setsockopt(socket->m_sock_value(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    return socket;
  }

  std::string RequestBody(std::string const& path, int id) const {
    return "{\"_path\":\"" + path +
           "\",\"_width\":64,\"_height\":48,\"_full_screen\":false,\"_resource_id\":" +
           std::to_string(id) + ",\"_thumbnail_folder\":\"" + cache_ +
           "\",\"_default_thumbnail_folder\":\"" + std::string(QL_DEFAULT_PICTURES_DIR) + "\"}";
  }

  static bool SendText(QLProcessHelperSocket& socket, std::string const& text) {
    return socket.Send(reinterpret_cast<unsigned char const*>(text.data()),
                       static_cast<unsigned int>(text.size()));
  }

  static Bytes ReceiveFrame(QLProcessHelperSocket& socket) {
    boost::shared_ptr<unsigned char> message;
    int const length = socket.Receive(message);
    if (length <= 0) return Bytes();
    return Bytes(message.get(), message.get() + length);
  }

  static QLTempDir* scratch_;
  static QLDaemonProcess* daemon_;
  QLTempDir temp_;
  std::string cache_;
  std::string output_;
};

QLTempDir* ThumbnailEndToEndTest::scratch_ = nullptr;
QLDaemonProcess* ThumbnailEndToEndTest::daemon_ = nullptr;

TEST_F(ThumbnailEndToEndTest, JpegPhotoGetsScaledPngAndIsCached) {
  Rgb const colour = {30, 140, 210};
  std::string const photo = temp_.File("holiday.jpg");
  WriteBytes(photo, DrawJpeg(1024, 768, colour));
  ClientRun const run = RunClient(Args(photo, "4242"), temp_.path());
  ASSERT_EQ(0, run.status) << run.messages;
  Bytes const png = ReadBytes(output_);
  Rgb got;
  ASSERT_TRUE(CentreColour(png, &got));
  EXPECT_TRUE(Near(colour, got));
  ImageOwner decoded(gdImageCreateFromPngPtr(static_cast<int>(png.size()),
                                             const_cast<unsigned char*>(png.data())));
  ASSERT_TRUE(decoded.image);
  EXPECT_LE(gdImageSX(decoded.image), 1024);
  EXPECT_LT(gdImageSY(decoded.image), 768) << "the thumbnail is smaller than the photo";
  std::vector<std::string> const cached = CacheFiles(cache_);
  ASSERT_EQ(1u, cached.size());
  EXPECT_EQ(0u, cached[0].rfind("1092_160x120_0_", 0)) << cached[0];
}

TEST_F(ThumbnailEndToEndTest, CacheHitReturnsStoredBytesUnchanged) {
  std::string const photo = temp_.File("photo.jpeg");
  WriteBytes(photo, DrawJpeg(320, 240, {200, 50, 50}));
  ASSERT_EQ(0, RunClient(Args(photo, "77"), temp_.path()).status);
  std::vector<std::string> const cached = CacheFiles(cache_);
  ASSERT_EQ(1u, cached.size());

  // Replace the stored thumbnail: the next answer must be exactly these bytes.
  Bytes const stored = DrawPng(7, 5, {1, 2, 3});
  WriteBytes(cache_ + "/" + cached[0], stored);
  ClientRun const run = RunClient(Args(photo, "77"), temp_.path());
  ASSERT_EQ(0, run.status) << run.messages;
  EXPECT_EQ(stored, ReadBytes(output_));
}

TEST_F(ThumbnailEndToEndTest, Mp3CoverArtBecomesTheThumbnail) {
  Rgb const cover = {240, 200, 20};
  std::string const song = temp_.File("song.mp3");
  WriteBytes(song, MakeMp3WithCover(DrawJpeg(300, 300, cover)));
  ClientRun const run = RunClient(Args(song, "900"), temp_.path());
  ASSERT_EQ(0, run.status) << run.messages;
  Rgb got;
  ASSERT_TRUE(CentreColour(ReadBytes(output_), &got));
  EXPECT_TRUE(Near(cover, got)) << got.r << "," << got.g << "," << got.b;
}

TEST_F(ThumbnailEndToEndTest, UnknownTypeGetsGenericPictureAndIsNotCached) {
  std::string const archive = temp_.File("backup.tar.gz");
  WriteBytes(archive, Bytes{'x'});
  ClientRun const run = RunClient(Args(archive, "5"), temp_.path());
  ASSERT_EQ(0, run.status) << run.messages;
  EXPECT_TRUE(IsPng(ReadBytes(output_)));
  EXPECT_TRUE(CacheFiles(cache_).empty());
}

TEST_F(ThumbnailEndToEndTest, NoPictureAtAllIsReportedByTheClient) {
  std::string const archive = temp_.File("backup.zip");
  WriteBytes(archive, Bytes{'x'});
  std::string const empty_defaults = temp_.File("no-defaults");
  ASSERT_EQ(0, mkdir(empty_defaults.c_str(), 0755));
  ClientRun const run =
      RunClient(Args(archive, "6", {"--default-folder", empty_defaults}), temp_.path());
  EXPECT_EQ(5, run.status) << run.messages;
  EXPECT_NE(std::string::npos, run.messages.find("could not make a thumbnail")) << run.messages;
  EXPECT_FALSE(boost::filesystem::exists(output_));
}

TEST_F(ThumbnailEndToEndTest, ReplyThatIsNotAPngIsRejectedByTheClient) {
  std::string const photo = temp_.File("p.jpg");
  WriteBytes(photo, DrawJpeg(64, 64, {9, 9, 9}));
  ASSERT_EQ(0, RunClient(Args(photo, "8"), temp_.path()).status);
  std::vector<std::string> const cached = CacheFiles(cache_);
  ASSERT_EQ(1u, cached.size());
  WriteBytes(cache_ + "/" + cached[0], Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0});
  ClientRun const run = RunClient(Args(photo, "8"), temp_.path());
  EXPECT_EQ(6, run.status) << run.messages;
  EXPECT_NE(std::string::npos, run.messages.find("not a PNG")) << run.messages;
}

TEST_F(ThumbnailEndToEndTest, InvalidBodyGetsNoReplyAndConnectionStaysUsable) {
  std::string const photo = temp_.File("valid.png");
  WriteBytes(photo, DrawPng(200, 100, {10, 200, 10}));
  boost::shared_ptr<QLProcessHelperSocket> socket = Connect();
  ASSERT_TRUE(socket->IsValid());
  ASSERT_TRUE(SendText(*socket, "this is { not json"));
  ASSERT_TRUE(SendText(*socket, RequestBody(photo, 31)));
  // The first reply on the connection answers the second request.
  Bytes const reply = ReceiveFrame(*socket);
  Rgb got;
  ASSERT_TRUE(CentreColour(reply, &got)) << reply.size() << " bytes";
  EXPECT_TRUE(Near({10, 200, 10}, got));
}

TEST_F(ThumbnailEndToEndTest, ThreeRequestsBackToBackOnOneConnection) {
  Rgb const colours[3] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}};
  boost::shared_ptr<QLProcessHelperSocket> socket = Connect();
  for (int i = 0; i < 3; ++i) {
    std::string const photo = temp_.File("shot" + std::to_string(i) + ".jpg");
    WriteBytes(photo, DrawJpeg(400, 300, colours[i]));
    ASSERT_TRUE(SendText(*socket, RequestBody(photo, 100 + i)));
  }
  for (int i = 0; i < 3; ++i) {
    Rgb got;
    ASSERT_TRUE(CentreColour(ReceiveFrame(*socket), &got)) << "reply " << i;
    EXPECT_TRUE(Near(colours[i], got)) << "reply " << i << " answers request " << i;
  }
  EXPECT_EQ(3u, CacheFiles(cache_).size());
}

TEST_F(ThumbnailEndToEndTest, MissingKeyGetsFailureByte) {
  boost::shared_ptr<QLProcessHelperSocket> socket = Connect();
  ASSERT_TRUE(SendText(*socket, "{\"_path\":\"/nowhere.jpg\"}"));
  EXPECT_EQ(Bytes{0}, ReceiveFrame(*socket));
}

TEST(ThumbnailClientTest, ReportsDaemonNotRunning) {
  QLTempDir temp;
  std::string const file = temp.File("a.jpg");
  WriteBytes(file, Bytes{'x'});
  ClientRun const run = RunClient(
      {"--path", file, "--output", temp.File("o.png"), "--socket", temp.File("no-daemon.sock")},
      temp.path());
  EXPECT_EQ(3, run.status) << run.messages;
  EXPECT_NE(std::string::npos, run.messages.find("not reachable")) << run.messages;
}

TEST(ThumbnailClientTest, RejectsBadCommandLine) {
  QLTempDir temp;
  EXPECT_EQ(2, RunClient({"--width", "-5", "--path", "x", "--output", "y"}, temp.path()).status);
  EXPECT_EQ(2, RunClient({"--output", "y"}, temp.path()).status);
  EXPECT_EQ(2, RunClient({"--path", "x", "--output", "y", "--bogus"}, temp.path()).status);
  EXPECT_EQ(
      2, RunClient({"--path", "x", "--output", "y", "--resource-id", "12abc"}, temp.path()).status);
}

}  // namespace
