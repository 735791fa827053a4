// Writing results whole or absent. An output is refused when it names a file the command
// reads (compared by device and inode, so that another name of the same file is caught
// too). A regular file is written to ".NAME.defectkit-XXXXXX" in the folder its name leads
// to (links followed), flushed with fsync and renamed onto the name; a failure to write is
// remembered at the first byte that did not go out and reported when the file is closed,
// and then only the temporary goes. The temporaries are noted in the signal cleanup table
// (cleanup.h) while they exist.
#include "output/safe_output.h"

#include "output/cleanup.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// Large enough that writes of a few hundred MB do not cost many system calls.
constexpr std::size_t buffer_size = std::size_t{1} << 18;

void report(const std::string& path, int error) {
    std::cerr << "defectkit: cannot write " << output_name(path) << ": " << std::strerror(error)
              << "\n";
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "FOLDER/.NAME.defectkit-XXXXXX", the name cut so that the whole stays within NAME_MAX.
std::string temporary_pattern(const std::string& path) {
    const std::string folder = folder_of(path);
    return (folder == "/" ? "" : folder) + "/." + base_of(path).substr(0, 200) +
           ".defectkit-XXXXXX";
}

// The name with every link followed, to where a new file would be made. False (errno set)
// on a loop of links or a folder that cannot be read.
bool follow_links(const std::string& path, std::string& resolved) {
    resolved = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(resolved.c_str(), &st) != 0) {
            return errno == ENOENT;
        }
        if (!S_ISLNK(st.st_mode)) {
            return true;
        }
        char link[PATH_MAX];
        const ssize_t n = ::readlink(resolved.c_str(), link, sizeof link - 1);
        if (n < 0) {
            return false;
        }
        const std::string to(link, static_cast<std::size_t>(n));
        resolved = to.front() == '/' ? to : folder_of(resolved) + "/" + to;
    }
    errno = ELOOP;
    return false;
}

// The umask, read by setting it and setting it back; no other thread makes files meanwhile.
mode_t current_umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

mode_t new_file_mode() {
    return 0666 & ~current_umask();
}

// Opens a FIFO, a device or a file that cannot be replaced by its name, as it is.
bool open_direct(OutputTarget& target, int& fd) {
    // Non-blocking, so that a FIFO that no program reads is refused at once instead of
    // holding the command; the writes themselves block as usual.
    fd = ::open(target.path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENXIO) {
        std::cerr << "defectkit: cannot write " << target.path
                  << ": a FIFO that no program reads\n";
        return false;
    }
    if (fd < 0) {
        report(target.path, errno);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return true;
}

// Makes the temporary beside the file the name leads to.
bool open_temporary(OutputTarget& target, const struct stat* existing, int& fd) {
    if (existing != nullptr && ::access(target.final_path.c_str(), W_OK) != 0) {
        report(target.path, errno);
        return false;
    }
    std::string name = temporary_pattern(target.final_path);
    hold_signals(); // a signal between the two steps would leave the temporary
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    const int made_error = errno;
    target.slot = fd >= 0 ? note_temporary(name.c_str()) : -1;
    release_signals();
    if (fd < 0) {
        report(target.path, made_error);
        return false;
    }
    target.temp_path = name;
    target.regular = true;
    target.mode = existing != nullptr ? existing->st_mode & 07777 : new_file_mode();
    if (target.slot < 0 || ::fchmod(fd, target.mode) != 0) {
        const int error = target.slot < 0 ? ENAMETOOLONG : errno;
        ::close(fd);
        abandon_target(target);
        report(target.path, error);
        return false;
    }
    return true;
}

// Chooses how the name is written: directly, or under a temporary name.
bool open_named(OutputTarget& target, int& fd) {
    struct stat given {};
    const bool exists = ::stat(target.path.c_str(), &given) == 0;
    if (!exists && errno != ENOENT) {
        report(target.path, errno);
        return false;
    }
    if (exists && !S_ISREG(given.st_mode)) {
        return open_direct(target, fd);
    }
    if (!follow_links(target.path, target.final_path)) {
        report(target.path, errno);
        return false;
    }
    struct stat landing {};
    const bool lands = ::stat(target.final_path.c_str(), &landing) == 0;
    if (exists && (!lands || landing.st_dev != given.st_dev || landing.st_ino != given.st_ino)) {
        return open_direct(target, fd); // a name the kernel resolves (/proc/self/fd/N) alone
    }
    return open_temporary(target, exists ? &given : nullptr, fd);
}

bool attach_stream(OutputTarget& target, int fd) {
    target.file = ::fdopen(fd, "wb");
    if (target.file == nullptr) {
        const int error = errno;
        ::close(fd);
        abandon_target(target);
        report(target.path, error);
        return false;
    }
    std::setvbuf(target.file, nullptr, _IOFBF, buffer_size);
    return true;
}

void note_failure(OutputTarget& target) {
    if (!target.failed) {
        target.failed = true;
        target.error = errno != 0 ? errno : EIO;
    }
}

// The bytes to the disk and the stream closed; false after any failure.
bool finish_stream(OutputTarget& target) {
    errno = 0;
    if (!target.failed && std::fflush(target.file) != 0) {
        note_failure(target);
    }
    errno = 0;
    if (!target.failed && (target.regular || target.in_folder) &&
        ::fsync(::fileno(target.file)) != 0) {
        note_failure(target);
    }
    errno = 0;
    if (std::fclose(target.file) != 0) {
        note_failure(target);
    }
    target.file = nullptr;
    return !target.failed;
}

} // namespace

std::string output_name(const std::string& path) {
    return path == "-" ? std::string("the standard output") : path;
}

bool is_input(const std::string& path, const InputPaths& inputs) {
    struct stat target {};
    if (path == "-" || ::stat(path.c_str(), &target) != 0) {
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
    int fd = -1;
    if (path == "-") {
        const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
        fd = flags < 0 || (flags & O_ACCMODE) == O_RDONLY
                 ? -1
                 : ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
        if (fd < 0) {
            report(path, flags < 0 || (flags & O_ACCMODE) == O_RDONLY ? EBADF : errno);
            return false;
        }
    } else if (!open_named(target, fd)) {
        return false;
    }
    return attach_stream(target, fd);
}

void write_target(OutputTarget& target, const char* bytes, std::size_t count) {
    if (target.failed || target.file == nullptr || count == 0) {
        return;
    }
    errno = 0;
    if (std::fwrite(bytes, 1, count, target.file) != count) {
        note_failure(target);
    }
}

bool close_target(OutputTarget& target) {
    if (target.file == nullptr) {
        return !target.failed;
    }
    if (!finish_stream(target)) {
        report(target.path, target.error);
        abandon_target(target);
        return false;
    }
    if (target.regular && ::rename(target.temp_path.c_str(), target.final_path.c_str()) != 0) {
        const int error = errno;
        abandon_target(target);
        target.failed = true;
        target.error = error;
        report(target.path, error);
        return false;
    }
    forget_temporary(target.slot);
    target.slot = -1;
    return true;
}

void abandon_target(OutputTarget& target) {
    if (target.file != nullptr) {
        std::fclose(target.file);
        target.file = nullptr;
    }
    if (target.regular && !target.temp_path.empty()) {
        ::unlink(target.temp_path.c_str());
    } else if (target.in_folder) {
        ::unlink(target.final_path.c_str());
    }
    forget_temporary(target.slot);
    target.slot = -1;
}

bool open_folder(OutputFolder& folder, const std::string& path) {
    folder = OutputFolder{};
    folder.path = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        std::cerr << "defectkit: cannot create the folder " << path
                  << ": a file of that name is in the way\n";
        return false;
    }
    std::string name = temporary_pattern(path);
    hold_signals(); // a signal between the two steps would leave the temporary
    const bool made = ::mkdtemp(name.data()) != nullptr;
    const int made_error = errno;
    folder.slot = made ? note_temporary(name.c_str()) : -1;
    release_signals();
    if (!made) {
        std::cerr << "defectkit: cannot create the folder " << path << ": "
                  << std::strerror(made_error) << "\n";
        return false;
    }
    folder.temp_path = name;
    if (folder.slot < 0 || ::chmod(name.c_str(), 0777 & ~current_umask()) != 0) {
        abandon_folder(folder);
        std::cerr << "defectkit: cannot create the folder " << path << ": "
                  << std::strerror(ENAMETOOLONG) << "\n";
        return false;
    }
    return true;
}

bool open_folder_file(OutputFolder& folder, OutputTarget& target, const std::string& name) {
    target = OutputTarget{};
    target.path = folder.path + "/" + name;
    target.final_path = folder.temp_path + "/" + name;
    target.in_folder = true;
    hold_signals(); // a signal between the two steps would leave the file in the folder
    const int fd = ::open(target.final_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const int error = errno;
    if (fd >= 0) {
        // The folder's slots, not the file's: they go when the folder is renamed or removed.
        folder.files.emplace_back(note_temporary(target.final_path.c_str()), target.final_path);
    }
    release_signals();
    if (fd < 0) {
        report(target.path, error);
        return false;
    }
    return attach_stream(target, fd);
}

namespace {

void forget_folder(OutputFolder& folder) {
    for (const auto& [slot, path] : folder.files) {
        forget_temporary(slot);
    }
    forget_temporary(folder.slot);
    folder.files.clear();
    folder.slot = -1;
    folder.temp_path.clear();
}

// An existing folder of the name is moved aside under the temporary's name, the new one
// takes its place and the old one goes: at every moment the name is a whole folder or none.
// A signal waits until the old folder is gone.
bool replace_folder(OutputFolder& folder) {
    const std::string aside = folder.temp_path + ".old";
    hold_signals();
    const bool moved = ::rename(folder.path.c_str(), aside.c_str()) == 0;
    const bool replaced = moved && ::rename(folder.temp_path.c_str(), folder.path.c_str()) == 0;
    const int error = errno;
    if (moved && !replaced) {
        ::rename(aside.c_str(), folder.path.c_str()); // the old one back
    } else if (replaced) {
        std::error_code ignored;
        std::filesystem::remove_all(aside, ignored);
    }
    release_signals();
    errno = error;
    return replaced;
}

} // namespace

bool close_folder(OutputFolder& folder) {
    const int fd = ::open(folder.temp_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int sync_error = errno;
    if (fd >= 0) {
        ::close(fd);
    }
    bool renamed = synced && ::rename(folder.temp_path.c_str(), folder.path.c_str()) == 0;
    if (synced && !renamed && (errno == ENOTEMPTY || errno == EEXIST)) {
        renamed = replace_folder(folder);
    }
    if (!renamed) {
        const int error = synced ? errno : sync_error;
        abandon_folder(folder);
        report(folder.path, error);
        return false;
    }
    forget_folder(folder);
    return true;
}

void abandon_folder(OutputFolder& folder) {
    for (const auto& [slot, path] : folder.files) {
        ::unlink(path.c_str());
    }
    if (!folder.temp_path.empty()) {
        ::rmdir(folder.temp_path.c_str());
    }
    forget_folder(folder);
}

void guard_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number: this one, since those below it are open by now.
            ::open("/", O_RDONLY | O_DIRECTORY);
        }
    }
}

bool deliver_stdout() {
    // A write that failed before (a flush of std::endl) left its reason in errno.
    const int earlier = errno;
    errno = 0;
    std::cout.flush();
    int error = errno;
    bool ok = !std::cout.fail();
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        ok = false;
        error = errno != 0 ? errno : error;
    }
    if (ok) {
        return true;
    }
    if (error == 0 && ::fcntl(STDOUT_FILENO, F_GETFL) >= 0 &&
        (::fcntl(STDOUT_FILENO, F_GETFL) & O_ACCMODE) == O_RDONLY) {
        error = EBADF; // closed when the program started: the placeholder holds it
    }
    error = error != 0 ? error : (earlier != 0 ? earlier : EIO);
    std::cerr << "defectkit: cannot write the standard output: " << std::strerror(error) << "\n";
    return false;
}
