// The fixed package sets behind the five install buttons.
#pragma once

#include <array>

#include "hardware/graphics.h"
#include "packages/repositories.h"

namespace kelmora {

// Index of the active NVIDIA entry: 1 the 470 pair, 2 the 390 pair, 3 the 580
// pair (Maxwell, Pascal, Volta), anything else (0, -1) the current driver.
PackageList nvidia_packages(int active_index);
// Without multilib (any build but x86_64 glibc): the 64-bit packages only.
PackageList amd_packages(bool multilib = multilib_system);
PackageList intel_packages(bool multilib = multilib_system);
// Check-button states in window order: HP, Brother, Epson, Gutenprint.
PackageList print_driver_packages(const std::array<bool, 4>& checked);
// Check-button states in window order: brscan4, brscan5, Simple Scan, Skanlite.
PackageList scanner_packages(const std::array<bool, 4>& checked);

}  // namespace kelmora
