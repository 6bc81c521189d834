#include "manifest.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace zelimg {

namespace {

std::string trim(const std::string &s)
{
    const char *blanks = " \t\r\n";
    size_t b = s.find_first_not_of(blanks);
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

bool parseNumber(const std::string &text, uint32_t *value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull)
        return false;
    *value = uint32_t(v);
    return true;
}

// Takes the size of a component file without reading it; the image writer
// streams the bytes later. Only regular files are taken: a device such as
// /dev/zero has no end, and a FIFO or folder has no size.
bool fileSource(const std::string &path, const std::string &shown, FileSource *source,
                std::string *what)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        *what = "cannot read \"" + shown + "\"";
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        *what = "\"" + shown + "\" is not a regular file";
        return false;
    }
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        *what = "cannot read \"" + shown + "\"";
        return false;
    }
    *source = FileSource{path, uint64_t(size)};
    return true;
}

// Pending [env] section: the variables become its bytes when the section ends.
struct EnvSection {
    std::vector<std::pair<std::string, std::string>> vars;
    std::string partsMmc;
    bool hasParts = false;
};

} // namespace

bool readManifest(const std::string &path, ImageDesc *desc, std::string *error)
{
    std::ifstream in(path);
    if (!in) {
        *error = "cannot open manifest \"" + path + "\"";
        return false;
    }
    size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);

    auto resolve = [&](const std::string &file) {
        return file.empty() || file[0] == '/' ? file : folder + file;
    };
    enum class Section { Header, Fwc, Env } section = Section::Header;
    Component *current = nullptr;
    EnvSection env;
    std::string fileKey; // the file of the current [fwc], checked at its end
    int lineNo = 0;
    int sectionLine = 0;

    auto fail = [&](int at, const std::string &what) {
        *error = path + ":" + std::to_string(at) + ": " + what;
        return false;
    };
    // Completes the section that ends here.
    auto finish = [&]() {
        if (section == Section::Fwc) {
            if (current->name.empty())
                return fail(sectionLine, "[fwc] without a name");
            if (fileKey.empty())
                return fail(sectionLine, "[fwc] \"" + current->name + "\" without a file");
            FileSource source;
            std::string what;
            if (!fileSource(resolve(fileKey), fileKey, &source, &what))
                return fail(sectionLine, what);
            current->file = source;
        } else if (section == Section::Env) {
            if (!env.hasParts)
                return fail(sectionLine, "[env] without parts_mmc");
            env.vars.emplace_back("parts_mmc", env.partsMmc);
            current->bytes = envBlob(env.vars);
        }
        return true;
    };

    std::string line;
    while (std::getline(in, line)) {
        lineNo++;
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line == "[fwc]" || line == "[env]") {
            if (!finish())
                return false;
            desc->components.emplace_back();
            current = &desc->components.back();
            sectionLine = lineNo;
            fileKey.clear();
            env = EnvSection();
            if (line == "[env]") {
                section = Section::Env;
                Component defaults = envComponent("");
                current->name = defaults.name;
                current->partition = defaults.partition;
                current->attributes = defaults.attributes;
            } else {
                section = Section::Fwc;
            }
            continue;
        }
        if (line[0] == '[')
            return fail(lineNo, "unknown section " + line + " (use [fwc] or [env])");
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            return fail(lineNo, "expected \"key = value\"");
        const std::string key = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));

        if (section == Section::Header) {
            uint32_t number = 0;
            if (key == "platform")
                desc->platform = value;
            else if (key == "product")
                desc->product = value;
            else if (key == "version")
                desc->version = value;
            else if (key == "media_type")
                desc->mediaType = value;
            else if (key == "media_id")
                desc->mediaId = value;
            else if (key == "media_number" || key == "ex_flag") {
                if (!parseNumber(value, &number))
                    return fail(lineNo, key + " \"" + value + "\" is not a 32-bit number");
                (key == "media_number" ? desc->mediaDeviceNumber : desc->exFlag) = number;
            } else if (key == "ex_file") {
                FileSource source;
                std::string what;
                if (!fileSource(resolve(value), value, &source, &what))
                    return fail(lineNo, what);
                desc->extensionFile = source;
            } else {
                return fail(lineNo, "unknown header key \"" + key + "\"");
            }
            continue;
        }

        uint32_t number = 0;
        if (key == "name")
            current->name = value;
        else if (key == "partition")
            current->partition = value;
        else if (key == "attributes")
            current->attributes = value;
        else if (key == "ram") {
            if (!parseNumber(value, &number))
                return fail(lineNo, "ram \"" + value + "\" is not a 32-bit number");
            current->ram = number;
        } else if (section == Section::Fwc && key == "file")
            fileKey = value;
        else if (section == Section::Env && key == "parts_mmc") {
            env.partsMmc = value;
            env.hasParts = true;
        } else if (section == Section::Env && key == "set") {
            size_t veq = value.find('=');
            if (veq == std::string::npos || veq == 0)
                return fail(lineNo, "set needs \"key=value\"");
            env.vars.emplace_back(value.substr(0, veq), value.substr(veq + 1));
        } else {
            return fail(lineNo, "unknown key \"" + key + "\" in " +
                                    (section == Section::Fwc ? "[fwc]" : "[env]"));
        }
    }
    if (!finish())
        return false;
    if (desc->components.empty())
        return fail(lineNo, "no [fwc] or [env] section");
    return true;
}

} // namespace zelimg
