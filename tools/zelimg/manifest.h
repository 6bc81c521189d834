#pragma once
// The image manifest read by "zelimg build": a small text file of
// "key = value" lines. Blank lines and lines starting with "#" are ignored.
//
//   platform = zk3308            header fields; all optional, empty by default
//   product = zelkora-demo
//   version = 1.0.8
//   media_type = emmc
//   media_number = 0             32-bit number (C notation: 10, 0x1f, 017)
//   media_id = mmc0
//   ex_flag = 0                  extension area: flag and file (optional)
//   ex_file = extension.bin
//
//   [fwc]                        one section per component, in table order
//   name = updater.spl
//   partition = spl
//   ram = 0x200000
//   attributes = run
//   file = spl.bin               relative to the manifest's folder
//
//   [env]                        an environment component built from text
//   parts_mmc = 1m(boot),-(rootfs)
//   set = bootdelay=3            further variables (repeatable), before parts_mmc
//   name, partition, ram, attributes as for [fwc]; defaults
//   "image.updater.env", "env", 0, "burn"

#include "image_builder.h"

#include <string>

namespace zelimg {

// Reads the manifest into desc and takes the size of every file it names
// (only regular files are accepted); writeImage streams their bytes later.
// False with *error set to one line ("<file>:<line>: <what>") on failure.
bool readManifest(const std::string &path, ImageDesc *desc, std::string *error);

} // namespace zelimg
