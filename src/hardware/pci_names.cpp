// Names from the PCI ID database through libpci.
//
// libpci reports a corrupt database (and a failed allocation) through its
// error callback, which must not return; the callback here jumps back out of
// the look-up instead of ending the process. Between the jump and its target
// there are only libpci's C frames and this file's trivially destructible
// locals.
// pci.h has no C++ linkage block of its own.
extern "C" {
#include <pci/pci.h>
}

#include <csetjmp>
#include <cstring>

#include "hardware/graphics.h"
#include "i18n/utf8.h"

namespace kelmora {
namespace {

// Names longer than this are cut; pci.ids's longest is about 100 bytes.
constexpr std::size_t name_limit = 160;

thread_local std::jmp_buf* lookup_escape = nullptr;

[[noreturn]] void on_pci_error(char*, ...) {
    std::longjmp(*lookup_escape, 1);
}

void on_pci_message(char*, ...) {}

// Plain text on one line: valid UTF-8, no control characters, capped.
std::string clean_name(const char* raw) {
    if (raw == nullptr) return {};
    std::string text = decode_utf8_lossy(std::string_view(raw, strnlen(raw, name_limit * 4)));
    std::string out;
    for (unsigned char c : text) out.push_back(c < 0x20 || c == 0x7f ? ' ' : static_cast<char>(c));
    if (out.size() > name_limit) {
        std::size_t cut = name_limit;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xc0) == 0x80) --cut;
        out.resize(cut);
    }
    return out;
}

struct RawNames {
    char vendor[256];
    char device[256];
    const char* vendor_found;
    const char* device_found;
};

// Returns false when libpci gave up on the database.
bool look_up(pci_access* access, int flags, unsigned vendor, unsigned device, RawNames& names) {
    std::jmp_buf escape;
    lookup_escape = &escape;
    if (setjmp(escape) != 0) {
        lookup_escape = nullptr;
        return false;
    }
    names.vendor_found = pci_lookup_name(access, names.vendor, sizeof names.vendor,
                                         flags | PCI_LOOKUP_VENDOR, vendor);
    names.device_found = pci_lookup_name(access, names.device, sizeof names.device,
                                         flags | PCI_LOOKUP_DEVICE, vendor, device);
    lookup_escape = nullptr;
    return true;
}

}  // namespace

std::filesystem::path pci_ids_path(const std::filesystem::path& root) {
    // libpci's own database path, read below the root like every other file.
    static const std::filesystem::path built_in = [] {
        pci_access* access = pci_alloc();
        std::filesystem::path path = access != nullptr && access->id_file_name != nullptr
                                         ? access->id_file_name
                                         : "/usr/share/misc/pci.ids";
        if (access != nullptr) pci_cleanup(access);
        return path;
    }();
    return root / built_in.relative_path();
}

void name_display_controllers(std::vector<DisplayController>& cards,
                              const std::filesystem::path& root) {
    pci_access* access = pci_alloc();
    if (access == nullptr) return;
    access->error = on_pci_error;
    access->warning = on_pci_message;
    access->debug = on_pci_message;
    std::string ids_path = pci_ids_path(root);
    pci_set_name_list_path(access, ids_path.data(), 0);
    // udev's hardware database lives outside any other root.
    const int flags = PCI_LOOKUP_NO_NUMBERS | (root == "/" ? 0 : PCI_LOOKUP_NO_HWDB);
    for (DisplayController& card : cards) {
        RawNames names{};
        if (!look_up(access, flags, card.vendor, card.device, names)) break;
        card.vendor_name = clean_name(names.vendor_found);
        card.device_name = clean_name(names.device_found);
    }
    pci_cleanup(access);
}

}  // namespace kelmora
