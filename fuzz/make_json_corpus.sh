#!/usr/bin/env bash
# Writes the seed corpus of the json_parser fuzz target into
# fuzz/corpus/json_parser/: typical thumbnail requests, every shape the
# document tree treats specially, escapes, numbers at the edges, and broken
# or cut-short documents. Safe to run again (files are overwritten).
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/json_parser
mkdir -p "$out"

seed() { printf '%s' "$2" > "$out/$1"; }

path=$(printf '/srv/storage/share1/photos/2026/holiday/%s' "$(printf 'IMG_%04d_' 1 2 3 4 5 6 7)").jpg
seed request "{\"_path\":\"$path\",\"_width\":160,\"_height\":120,\"_full_screen\":false,\"_resource_id\":\"r-42\",\"_thumbnail_folder\":\"/tmp/thumbs\",\"_default_thumbnail_folder\":\"/usr/share/defaults\"}"
seed request_pretty "$(printf '{\n  "_path": "/a b/c.png",\n  "_width": 1920,\n  "_height": 1080,\n  "_full_screen": true\n}\n')"
seed two_members '{"_width":100,"_path":"a"}'
seed float_value '{"_width":100.0}'
seed null_value '{"a":null}'
seed nested_object '{"a":{"b":1}}'
seed scalar_array '{"k":[1,"x",true]}'
seed object_array '{"k":[{"a":1},{"b":"c"}]}'
seed empty_array '{"k":[]}'
seed object_in_array_object '{"k":[{"x":{"y":1},"z":2}]}'
seed array_in_array '{"k":[1,[2,3],4]}'
seed top_level_array '[{"a":1},5]'
seed cut_short '{"a":"x"'
seed missing_value '{"a":}'
seed escapes '{"e":"\"\\\/\b\f\n\r\t","u":"\u00e9\u20ac\ud83d\ude00"}'
seed lone_surrogate '{"s":"\ud800"}'
seed numbers '[0,-0,12,-3.5e-2,1E+10,9223372036854775807,-9223372036854775808,9223372036854775808,1e400]'
seed literals '[true,false,null]'
seed deep "$(printf '%.0s[' $(seq 64))$(printf '%.0s]' $(seq 64))"
seed too_deep "$(printf '%.0s[' $(seq 65))$(printf '%.0s]' $(seq 65))"
seed trailing '{"a":1} x'
seed duplicate_keys '{"a":1,"a":"two","a":[3]}'
seed empty_key '{"":1,"b":{"":2}}'
printf '{"a":"x\001y"}' > "$out/raw_control"
printf '{"k\\u0000":"a\\u0000b"}' > "$out/nul_escape"
printf '{"p":"\303\251\377\200"}' > "$out/high_bytes"
# Found by fuzzing: a bare top-level number ended by white space.
printf '8\t' > "$out/top_level_number_then_tab"
echo "$(ls "$out" | wc -l) seed files in fuzz/$out"
