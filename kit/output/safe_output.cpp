// Writing results to files. An output is refused when it names a file the command reads
// (compared by device and inode, so that another name of the same file is caught too). A
// failure to write is remembered at the first byte that did not go out and reported when
// the file is closed; a regular file is then removed, since whatever it holds is cut short.
// Anything else (/dev/null, a terminal, a pipe) is only closed.
#include "output/safe_output.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large enough that writes of a few hundred MB do not cost many system calls.
constexpr std::size_t buffer_size = std::size_t{1} << 18;

void report(const std::string& path, int error) {
    std::cerr << "defectkit: cannot write " << path << ": " << std::strerror(error) << "\n";
}

} // namespace

bool is_input(const std::string& path, const InputPaths& inputs) {
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) {
        return false; // not there yet: it cannot be an input
    }
    for (const std::string& input : inputs.paths) {
        struct stat in {};
        if (!input.empty() && ::stat(input.c_str(), &in) == 0 && in.st_dev == target.st_dev &&
            in.st_ino == target.st_ino) {
            return true;
        }
    }
    return false;
}

namespace {

void remove_if_regular(OutputTarget& target) {
    if (target.regular) {
        ::unlink(target.path.c_str());
    }
}

} // namespace

bool refuse_input(const std::string& path, const InputPaths& inputs) {
    if (!is_input(path, inputs)) {
        return false;
    }
    std::cerr << "defectkit: " << path << " is a file this command reads; not writing over it\n";
    return true;
}

bool open_target(OutputTarget& target, const std::string& path, const InputPaths& inputs) {
    target = OutputTarget{};
    target.path = path;
    if (refuse_input(path, inputs)) {
        return false;
    }
    // Non-blocking, so that a FIFO that no program reads is refused at once instead of
    // holding the command; the writes themselves block as usual.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0 && errno == ENXIO) {
        std::cerr << "defectkit: cannot write " << path << ": a FIFO that no program reads\n";
        return false;
    }
    if (fd < 0) {
        report(path, errno);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    struct stat st {};
    target.regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    target.file = ::fdopen(fd, "wb");
    if (target.file == nullptr) {
        const int error = errno;
        ::close(fd);
        remove_if_regular(target);
        report(path, error);
        return false;
    }
    std::setvbuf(target.file, nullptr, _IOFBF, buffer_size);
    return true;
}

void write_target(OutputTarget& target, const char* bytes, std::size_t count) {
    if (target.failed || target.file == nullptr || count == 0) {
        return;
    }
    if (std::fwrite(bytes, 1, count, target.file) != count) {
        target.failed = true;
        target.error = errno != 0 ? errno : EIO;
    }
}

bool close_target(OutputTarget& target) {
    if (target.file == nullptr) {
        return !target.failed;
    }
    errno = 0;
    if (!target.failed && std::fflush(target.file) != 0) {
        target.failed = true;
        target.error = errno != 0 ? errno : EIO;
    }
    errno = 0;
    if (std::fclose(target.file) != 0 && !target.failed) {
        target.failed = true;
        target.error = errno != 0 ? errno : EIO;
    }
    target.file = nullptr;
    if (target.failed) {
        report(target.path, target.error);
        remove_if_regular(target);
        return false;
    }
    return true;
}

void abandon_target(OutputTarget& target) {
    if (target.file != nullptr) {
        std::fclose(target.file);
        target.file = nullptr;
    }
    remove_if_regular(target);
}
