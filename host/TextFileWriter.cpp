#include "TextFileWriter.h"

#include "HostError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

void TextFileWriter::write(const std::string& path, const std::string& content)
{
    std::string pattern = path + ".orvex-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0)
        throw HostError("cannot write " + path + ": " + std::strerror(errno));
    const mode_t mask = umask(022);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);

    int error = 0;
    for (std::size_t written = 0; written < content.size() && !error;)
    {
        const ssize_t n = ::write(descriptor, content.data() + written, content.size() - written);
        if (n < 0 && errno != EINTR)
            error = errno;
        else if (n > 0)
            written += static_cast<std::size_t>(n);
    }
    if (!error && fsync(descriptor) != 0)
        error = errno;
    if (close(descriptor) != 0 && !error)
        error = errno;
    if (!error && std::rename(name.data(), path.c_str()) != 0)
        error = errno;
    if (error)
    {
        std::remove(name.data());
        throw HostError("cannot write " + path + ": " + std::strerror(error));
    }
}
