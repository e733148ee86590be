// Preloaded into the program by the bridge tests: the resolver never answers in time for
// one host name (as behind a name server that is away) and answers for the others as
// usual.

#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <thread>

namespace {
// Far beyond an open's deadline, well within the test's bound for a whole run.
constexpr std::chrono::seconds kHang(20);
using Resolver = int (*)(const char *, const char *, const addrinfo *, addrinfo **);
} // namespace

extern "C" int getaddrinfo(const char *node, const char *service, const addrinfo *hints,
                           addrinfo **result)
{
    if (node && std::strcmp(node, LUMIVOX_HANGING_HOST) == 0) {
        std::this_thread::sleep_for(kHang);
        return EAI_AGAIN;
    }
    static const auto next = reinterpret_cast<Resolver>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return next ? next(node, service, hints, result) : EAI_SYSTEM;
}
