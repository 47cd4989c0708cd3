// The fixed package sets behind the five install buttons.
#pragma once

#include <array>

#include "hardware/graphics.h"
#include "packages/repositories.h"

namespace kelmora {

// Index of the active NVIDIA entry: 1 the 470 pair, 2 the 390 pair, 3 the 580
// pair (Maxwell, Pascal, Volta), anything else (0, -1) the current driver.
PackageList nvidia_packages(int active_index);
// The processor family this build is for, as Void's templates name theirs
// in "archs" (x86_64*, i686*, the rest).
enum class CpuFamily { X86_64, I686, Other };
#if defined(__x86_64__)
inline constexpr CpuFamily cpu_family = CpuFamily::X86_64;
#elif defined(__i386__)
inline constexpr CpuFamily cpu_family = CpuFamily::I686;
#else
inline constexpr CpuFamily cpu_family = CpuFamily::Other;
#endif

// Without multilib (any build but x86_64 glibc): the 64-bit packages only.
// Each set has the VA-API drivers for video decoding: Mesa's for AMD; for
// Intel libva's i965 (libva-intel-driver, up to Coffee Lake; built for
// i686* and x86_64*) and iHD (intel-media-driver, Broadwell and newer;
// x86_64* only), each only where Void builds it.
PackageList amd_packages(bool multilib = multilib_system);
PackageList intel_packages(bool multilib = multilib_system, CpuFamily family = cpu_family);
// Check-button states in window order: HP, Brother, Epson, Gutenprint.
PackageList print_driver_packages(const std::array<bool, 4>& checked);
// Check-button states in window order: brscan4, brscan5, Simple Scan, Skanlite.
PackageList scanner_packages(const std::array<bool, 4>& checked);

}  // namespace kelmora
