#ifndef SANITIZER_H
#define SANITIZER_H

// LUMIVOX_ASAN is defined in a build with AddressSanitizer, whose quarantine keeps freed
// memory: figures of resident memory mean nothing there.
#if defined(__SANITIZE_ADDRESS__)
#define LUMIVOX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMIVOX_ASAN 1
#endif
#endif

#endif // SANITIZER_H
