#include "packages/packages.h"

namespace kelmora {
namespace {

PackageList from_checks(const std::array<bool, 4>& checked,
                        const std::array<PackageList, 4>& adds) {
    PackageList list;
    for (std::size_t i = 0; i < 4; ++i)
        if (checked[i]) list.insert(list.end(), adds[i].begin(), adds[i].end());
    return list;
}

}  // namespace

PackageList nvidia_packages(int active_index) {
    PackageList list = {"void-repo-multilib", "void-repo-multilib-nonfree", "void-repo-nonfree"};
    switch (active_index) {
        case 2:
            list.insert(list.end(), {"nvidia390", "nvidia390-libs-32bit"});
            break;
        case 1:
            list.insert(list.end(), {"nvidia470", "nvidia470-libs-32bit"});
            break;
        case 3:
            // Since the 590 series "nvidia" drives Turing and newer only.
            list.insert(list.end(), {"nvidia580", "nvidia580-libs-32bit"});
            break;
        default:
            list.insert(list.end(), {"nvidia", "nvidia-libs-32bit"});
            break;
    }
    return list;
}

PackageList amd_packages(bool multilib) {
    PackageList list = {"linux-firmware-amd", "mesa-dri",          "vulkan-loader",
                        "mesa-vulkan-radeon", "xf86-video-amdgpu", "mesa-vaapi"};
    if (!multilib) return list;
    list.insert(list.begin(), "void-repo-multilib");
    list.insert(list.end(), {"mesa-dri-32bit", "vulkan-loader-32bit", "mesa-vulkan-radeon-32bit"});
    return list;
}

PackageList intel_packages(bool multilib, CpuFamily family) {
    PackageList list = {"linux-firmware-intel", "mesa-dri", "vulkan-loader", "mesa-vulkan-intel"};
    if (family == CpuFamily::X86_64) list.push_back("intel-media-driver");
    if (family != CpuFamily::Other) list.push_back("libva-intel-driver");
    if (!multilib) return list;
    list.insert(list.begin(), "void-repo-multilib");
    list.insert(list.end(), {"mesa-dri-32bit", "vulkan-loader-32bit", "mesa-vulkan-intel-32bit"});
    return list;
}

PackageList print_driver_packages(const std::array<bool, 4>& checked) {
    return from_checks(checked, {PackageList{"hplip"},
                                 {"brother-brlaser"},
                                 {"epson-inkjet-printer-escpr"},
                                 {"gutenprint", "foomatic-db", "foomatic-db-nonfree"}});
}

PackageList scanner_packages(const std::array<bool, 4>& checked) {
    return from_checks(
        checked,
        {PackageList{"brother-brscan4"}, {"brother-brscan5"}, {"simple-scan"}, {"skanlite"}});
}

}  // namespace kelmora
