// zelimg: prints, splits and builds firmware images.
//
//   zelimg print IMAGE
//   zelimg extract [-C DIR] IMAGE
//   zelimg build [-o IMAGE] MANIFEST
//
// Errors are one line on standard error and a non-zero exit status
// (1 for a failed operation, 2 for a wrong command line).

#include "image_builder.h"
#include "manifest.h"

#include "upg_tools.h"
#include "zelupg_log.h"

#include "veldmark_version.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool g_verbose = false;
const char *g_command = "zelimg";
int g_errorLines = 0; // error lines printed for the library so far

const char kMainHelp[] =
    "usage: zelimg COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Prints, splits and builds firmware images.\n"
    "\n"
    "commands:\n"
    "  print IMAGE              print the header and the FWC table\n"
    "  extract [-C DIR] IMAGE   write every FWC into a file named as the FWC\n"
    "  build [-o IMAGE] MANIFEST\n"
    "                           build an image from a manifest and component files\n"
    "\n"
    "Run \"zelimg COMMAND --help\" for the options of one command,\n"
    "\"zelimg --version\" for the version.\n";

const char kPrintHelp[] =
    "usage: zelimg print [-v] IMAGE\n"
    "\n"
    "Prints the image header and every FWC table entry. Fails when the magic is\n"
    "wrong, when the file length is not 2048 + meta size + file size + ex size,\n"
    "when the table claims more than 1024 entries, or when an entry's bytes lie\n"
    "past the end of the file.\n"
    "\n"
    "  -v   also show the library's debug messages\n";

const char kExtractHelp[] =
    "usage: zelimg extract [-v] [-C DIR] IMAGE\n"
    "\n"
    "Writes each FWC of IMAGE into a file named as the FWC, in DIR (default: the\n"
    "current directory). Only the magic and the table bound (1024 entries) are\n"
    "checked. An FWC whose name is not a plain file name (\"/\", \"\\\", \"..\", \":\")\n"
    "or whose bytes run past the end of the image stops the extraction with an\n"
    "error; files already written stay.\n"
    "A symbolic link (or anything but a regular file) found where an output file\n"
    "goes is never written through: it stops the extraction the same way.\n"
    "\n"
    "  -C DIR   write the files into DIR\n"
    "  -v       also show the library's debug messages\n";

const char kBuildHelp[] =
    "usage: zelimg build [-o IMAGE] MANIFEST\n"
    "\n"
    "Builds an image from MANIFEST: header at 0, FWC table at 2048, the FWC data\n"
    "behind the table, each entry with its offset, size and CRC-32 (zlib).\n"
    "IMAGE defaults to \"image.img\"; it is replaced only once the new image is\n"
    "complete. Component files must be regular files; their bytes are streamed.\n"
    "\n"
    "Manifest (\"key = value\" lines, \"#\" comments; files relative to the manifest):\n"
    "  platform = zk3308\n"
    "  product = zelkora-demo\n"
    "  version = 1.0.8\n"
    "  media_type = emmc\n"
    "  media_number = 0\n"
    "  media_id = mmc0\n"
    "  ex_flag = 0                    (optional extension area)\n"
    "  ex_file = extension.bin\n"
    "\n"
    "  [fwc]                          one section per FWC, in table order\n"
    "  name = updater.spl\n"
    "  partition = spl\n"
    "  ram = 0x200000\n"
    "  attributes = run\n"
    "  file = spl.bin\n"
    "\n"
    "  [env]                          environment FWC \"image.updater.env\"\n"
    "  parts_mmc = 1m(boot),4m(kernel),-(rootfs)\n"
    "  set = bootdelay=3              further variables, repeatable\n";

// Library messages: errors and warnings to standard error without the
// "function()line:" column, debug only with -v, operator text to stdout.
int toolLogHook(int level, const char *text)
{
    if (level == ZELUPG_LOG_PLAIN) {
        std::fputs(text, stdout);
        return 0;
    }
    if (level == ZELUPG_LOG_DEBUG && !g_verbose)
        return 0;
    const char *message = g_verbose ? text : zelupg_log_message(text);
    std::fprintf(stderr, "zelimg %s: %s\n", g_command, message);
    if (level != ZELUPG_LOG_DEBUG)
        g_errorLines++;
    return 0;
}

int usageError(const std::string &what)
{
    std::fprintf(stderr, "zelimg %s: %s (see \"zelimg %s --help\")\n", g_command, what.c_str(),
                 g_command);
    return 2;
}

bool isHelp(const std::string &arg)
{
    return arg == "--help" || arg == "-h";
}

// Splits the arguments of one command into options with values and
// positional arguments. Returns false (after a usage error) on a bad option.
struct Parsed {
    std::vector<std::string> positional;
    std::string dir;
    std::string output;
    bool help = false;
};

bool parseArgs(const std::vector<std::string> &args, const std::string &valueOptions,
               Parsed *parsed, int *status)
{
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        if (isHelp(a)) {
            parsed->help = true;
            return true;
        }
        if (a == "-v") {
            g_verbose = true;
        } else if (a.size() == 2 && a[0] == '-' && valueOptions.find(a[1]) != std::string::npos) {
            if (i + 1 >= args.size()) {
                *status = usageError("option " + a + " needs a value");
                return false;
            }
            (a[1] == 'C' ? parsed->dir : parsed->output) = args[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            *status = usageError("unknown option " + a);
            return false;
        } else {
            parsed->positional.push_back(a);
        }
    }
    return true;
}

int cmdPrint(const std::vector<std::string> &args)
{
    Parsed p;
    int status = 0;
    if (!parseArgs(args, "", &p, &status))
        return status;
    if (p.help) {
        std::fputs(kPrintHelp, stdout);
        return 0;
    }
    if (p.positional.size() != 1)
        return usageError("expected one IMAGE");
    if (image_display_info(p.positional[0].c_str()) == 0)
        return 0;
    // A header that cannot be read fails without a library message.
    if (g_errorLines == 0)
        std::fprintf(stderr, "zelimg print: \"%s\" is shorter than an image header\n",
                     p.positional[0].c_str());
    return 1;
}

int cmdExtract(const std::vector<std::string> &args)
{
    Parsed p;
    int status = 0;
    if (!parseArgs(args, "C", &p, &status))
        return status;
    if (p.help) {
        std::fputs(kExtractHelp, stdout);
        return 0;
    }
    if (p.positional.size() != 1)
        return usageError("expected one IMAGE");
    const char *dir = p.dir.empty() ? nullptr : p.dir.c_str();
    return image_extract_to(p.positional[0].c_str(), dir) == 0 ? 0 : 1;
}

int cmdBuild(const std::vector<std::string> &args)
{
    Parsed p;
    int status = 0;
    if (!parseArgs(args, "o", &p, &status))
        return status;
    if (p.help) {
        std::fputs(kBuildHelp, stdout);
        return 0;
    }
    if (p.positional.size() != 1)
        return usageError("expected one MANIFEST");
    const std::string output = p.output.empty() ? "image.img" : p.output;
    zelimg::ImageDesc desc;
    std::string error;
    if (!zelimg::readManifest(p.positional[0], &desc, &error) ||
        !zelimg::writeImage(desc, output, &error)) {
        std::fprintf(stderr, "zelimg build: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %zu FWCs\n", output.c_str(), desc.components.size());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kMainHelp, stderr);
        return 2;
    }
    if (isHelp(args[0]) || args[0] == "help") {
        std::fputs(kMainHelp, stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::puts("zelimg " VELDMARK_VERSION);
        return 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    zelupg_set_log_hook(toolLogHook);
    if (command == "print") {
        g_command = "print";
        return cmdPrint(args);
    }
    if (command == "extract") {
        g_command = "extract";
        return cmdExtract(args);
    }
    if (command == "build") {
        g_command = "build";
        return cmdBuild(args);
    }
    std::fprintf(stderr,
                 "zelimg: unknown command \"%s\" (print, extract, build; see \"zelimg --help\")\n",
                 command.c_str());
    return 2;
}
