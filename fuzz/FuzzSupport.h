#ifndef DVK_FUZZSUPPORT_H
#define DVK_FUZZSUPPORT_H

// Helpers shared by the fuzz targets.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <sys/mman.h>
#include <unistd.h>

// An in-memory file with a path: the readers take a path, and a file on disk
// per input would make the disk the bottleneck of a fuzz run.
class MemoryFile
{
public:
    MemoryFile()
    {
        fd = ::memfd_create("dvk-fuzz", MFD_CLOEXEC);
        if (fd < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        filePath = QString("/proc/self/fd/%1").arg(fd);
    }
    ~MemoryFile() { ::close(fd); }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    // Replaces the file's contents.
    void set(const uint8_t *data, size_t size)
    {
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size)) {
            std::perror("memory file");
            std::abort();
        }
    }
    const QString &path() const { return filePath; }

private:
    int fd = -1;
    QString filePath;
};

// A property of the code under test does not hold: report and stop, so that
// libFuzzer keeps the input that showed it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

#endif
