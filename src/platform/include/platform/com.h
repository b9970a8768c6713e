// The per-thread COM initialisation counter.
//
// The database components initialise COM on their thread when they are created and
// uninitialise it when destroyed, and they refuse to work when initialisation fails. Our
// engine needs no COM, but the components' rules depend on the answers, so each thread
// keeps a count that answers as CoInitialize does: success the first time, "already
// initialised" after that, and a changed-mode error when the apartment model differs.
#pragma once

#include <cstdint>

namespace platform {

using HResult = std::int32_t;

inline constexpr HResult kSOk = 0;     // initialised now
inline constexpr HResult kSFalse = 1;  // was already initialised on this thread
// Already initialised with the other apartment model; the count is not raised then.
inline constexpr HResult kRpcEChangedMode = static_cast<HResult>(0x80010106u);

enum class Apartment { SingleThreaded, MultiThreaded };

// A single-threaded apartment, as CoInitialize(nullptr).
HResult CoInitialize();
HResult CoInitializeEx(Apartment apartment);
// Undoes one successful initialisation (kSOk or kSFalse); does nothing on a thread that
// is not initialised.
void CoUninitialize();

// How many initialisations of this thread are not undone yet.
int ComInitializationCount();

}  // namespace platform
