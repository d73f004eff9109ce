// Preloaded into another program (LD_PRELOAD), this library serves the ppdev
// device nodes /dev/parportN from the ports of the bench named by VOKBENCH: node
// N is the bench's N-th port. Opening such a node gives a descriptor of
// /dev/null, so that the program holds a real descriptor; its ioctls are served
// from the bench. Every other path and descriptor goes to the C library.
#undef _FORTIFY_SOURCE // the open wrappers of the checked headers would clash with ours

#include "ppdev_node.h"

#include "bench_wire.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/types.h>

#define SHIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using OpenFn = int (*)(const char *, int, ...);
using OpenatFn = int (*)(int, const char *, int, ...);
using CheckedOpenFn = int (*)(const char *, int);
using CheckedOpenatFn = int (*)(int, const char *, int);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);

// The C library's own function of that name.
template <class Fn> Fn next(const char *name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

// Recursive: releasing a port closes its bench socket through our own close().
std::recursive_mutex nodes_lock;
// Open nodes by descriptor. Never destroyed: descriptors may be closed from
// other libraries' exit handlers.
std::map<int, std::unique_ptr<ppdevshim::Node>> &nodes() {
    static auto *m = new std::map<int, std::unique_ptr<ppdevshim::Node>>();
    return *m;
}

// Writes to a port are batched; at exit they still reach the bench, as they
// would have reached a real port, and each held port is released.
__attribute__((destructor)) void release_nodes_at_exit() {
    std::lock_guard<std::recursive_mutex> g(nodes_lock);
    nodes().clear();
}

// The node a path names, or -1 when the path is not served here.
int served_index(const char *path) {
    const char *socket = std::getenv(benchwire::ENV_SOCKET);
    if (socket == nullptr || *socket == '\0')
        return -1;
    return ppdevshim::parport_index(path);
}

// Opens node `index`: -1 with errno when the bench has no such port.
int open_node(int index, int flags) {
    static const OpenFn real_open = next<OpenFn>("open");
    const char *socket = std::getenv(benchwire::ENV_SOCKET);
    try {
        std::vector<uint16_t> bases = ppdevshim::bench_port_bases(socket);
        if (size_t(index) >= bases.size()) {
            errno = bases.empty() ? ENXIO : ENOENT;
            return -1;
        }
        auto node = std::make_unique<ppdevshim::Node>(socket, index, bases[size_t(index)]);
        int fd = real_open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
        if (fd < 0)
            return -1;
        std::lock_guard<std::recursive_mutex> g(nodes_lock);
        nodes()[fd] = std::move(node);
        return fd;
    } catch (...) {
        errno = ENOMEM;
        return -1;
    }
}

int open_served(const char *path, int flags) {
    int index = served_index(path);
    return index >= 0 ? open_node(index, flags) : -2;
}

int openat_served(const char *path, int flags) {
    return path != nullptr && path[0] == '/' ? open_served(path, flags) : -2;
}

bool wants_mode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

} // namespace

// The mode that follows the flags of open and openat only when they ask for one.
#define SHIM_MODE_ARGUMENT(flags)                                                                            \
    mode_t mode = 0;                                                                                         \
    if (wants_mode(flags)) {                                                                                 \
        va_list ap;                                                                                          \
        va_start(ap, flags);                                                                                 \
        mode = mode_t(va_arg(ap, int));                                                                      \
        va_end(ap);                                                                                          \
    }
// open, openat and their 64-bit names: -2 from *_served means "not ours".
#define SHIM_OPEN(name)                                                                                      \
    SHIM_EXPORT int name(const char *path, int flags, ...) {                                                 \
        SHIM_MODE_ARGUMENT(flags)                                                                            \
        int fd = open_served(path, flags);                                                                   \
        if (fd != -2)                                                                                        \
            return fd;                                                                                       \
        static const OpenFn real = next<OpenFn>(#name);                                                      \
        return real(path, flags, mode);                                                                      \
    }
#define SHIM_OPENAT(name)                                                                                    \
    SHIM_EXPORT int name(int dirfd, const char *path, int flags, ...) {                                      \
        SHIM_MODE_ARGUMENT(flags)                                                                            \
        int fd = openat_served(path, flags);                                                                 \
        if (fd != -2)                                                                                        \
            return fd;                                                                                       \
        static const OpenatFn real = next<OpenatFn>(#name);                                                  \
        return real(dirfd, path, flags, mode);                                                               \
    }
// The checked variants that _FORTIFY_SOURCE builds call; they take no mode.
#define SHIM_CHECKED_OPEN(name)                                                                              \
    SHIM_EXPORT int name(const char *path, int flags) {                                                      \
        int fd = open_served(path, flags);                                                                   \
        if (fd != -2)                                                                                        \
            return fd;                                                                                       \
        static const CheckedOpenFn real = next<CheckedOpenFn>(#name);                                        \
        return real(path, flags);                                                                            \
    }
#define SHIM_CHECKED_OPENAT(name)                                                                            \
    SHIM_EXPORT int name(int dirfd, const char *path, int flags) {                                           \
        int fd = openat_served(path, flags);                                                                 \
        if (fd != -2)                                                                                        \
            return fd;                                                                                       \
        static const CheckedOpenatFn real = next<CheckedOpenatFn>(#name);                                    \
        return real(dirfd, path, flags);                                                                     \
    }

SHIM_OPEN(open)
SHIM_OPEN(open64)
SHIM_OPENAT(openat)
SHIM_OPENAT(openat64)
SHIM_CHECKED_OPEN(__open_2)
SHIM_CHECKED_OPEN(__open64_2)
SHIM_CHECKED_OPENAT(__openat_2)
SHIM_CHECKED_OPENAT(__openat64_2)

SHIM_EXPORT int close(int fd) {
    std::unique_ptr<ppdevshim::Node> node;
    {
        std::lock_guard<std::recursive_mutex> g(nodes_lock);
        auto it = nodes().find(fd);
        if (it != nodes().end()) {
            node = std::move(it->second);
            nodes().erase(it);
        }
    }
    node.reset(); // a claimed port is released first
    static const CloseFn real = next<CloseFn>("close");
    return real(fd);
}

SHIM_EXPORT int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    {
        std::lock_guard<std::recursive_mutex> g(nodes_lock);
        auto it = nodes().find(fd);
        if (it != nodes().end()) {
            try {
                return it->second->ioctl(request, arg);
            } catch (...) {
                errno = ENOMEM;
                return -1;
            }
        }
    }
    static const IoctlFn real = next<IoctlFn>("ioctl");
    return real(fd, request, arg);
}
