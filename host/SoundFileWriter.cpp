#include "SoundFileWriter.h"

#include "HostError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::string baseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
mode_t processUmask()
{
    static const mode_t mask = [] {
        const mode_t current = umask(022);
        umask(current);
        return current;
    }();
    return mask;
}
} // namespace

SoundFileWriter::SoundFileWriter(const std::string& path, int format, int channels, int sampleRate)
    : finalPath(path)
{
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    if (!sf_format_check(&info))
        throw HostError("cannot write " + path + ": the file type cannot hold this sample format, rate or " +
                        std::to_string(channels) + " channels");

    std::string pattern = folderOf(path) + "/." + baseName(path) + ".orvex-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    descriptor = mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0)
        throw HostError("cannot write " + path + ": " + std::strerror(errno));
    tempPath = name.data();
    // mkstemp makes the file private; the result should look like any new file.
    fchmod(descriptor, 0666 & ~processUmask());

    file = sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE);
    if (!file)
        fail("cannot write", sf_strerror(nullptr));
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

SoundFileWriter::~SoundFileWriter()
{
    discard();
}

void SoundFileWriter::discard()
{
    if (file)
        sf_close(file);
    file = nullptr;
    if (descriptor >= 0)
        close(descriptor);
    descriptor = -1;
    if (!tempPath.empty())
        std::remove(tempPath.c_str());
    tempPath.clear();
}

void SoundFileWriter::fail(const std::string& what, const std::string& reason)
{
    discard();
    throw HostError(what + " " + finalPath + ": " + reason);
}

void SoundFileWriter::write(const float* interleaved, std::int64_t frames)
{
    if (!file)
        throw HostError("cannot write " + finalPath + ": file already finished");
    errno = 0;
    if (sf_writef_float(file, interleaved, frames) != frames)
    {
        const int error = errno;
        fail("error writing", error ? std::strerror(error) : sf_strerror(file));
    }
}

void SoundFileWriter::startWriteback()
{
#if defined(__linux__)
    if (descriptor >= 0)
        static_cast<void>(sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE)); // a hint: commit() checks
#endif
}

void SoundFileWriter::commit()
{
    if (!file)
        throw HostError("cannot write " + finalPath + ": file already finished");
    errno = 0;
    const int closeError = sf_close(file);
    file = nullptr;
    if (closeError != 0)
        fail("error writing", errno ? std::strerror(errno) : sf_error_number(closeError));
    // The data must be on disk before the rename makes it the destination.
    const bool synced = fsync(descriptor) == 0;
    int error = errno;
    const bool closed = close(descriptor) == 0;
    if (synced)
        error = errno;
    descriptor = -1;
    if (!synced || !closed)
        fail("error writing", std::strerror(error));
    if (std::rename(tempPath.c_str(), finalPath.c_str()) != 0)
        fail("cannot write", std::strerror(errno));
    tempPath.clear();
}
