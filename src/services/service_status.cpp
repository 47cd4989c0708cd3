#include "services/service_status.h"

#include "i18n/catalogue.h"
#include "tasks/process.h"

namespace kelmora {

ServiceState probe_service(const std::string& installed_path, const std::string& enabled_path) {
    if (!path_exists(installed_path)) return ServiceState::NotInstalled;
    return path_exists(enabled_path) ? ServiceState::Active : ServiceState::Inactive;
}

std::string status_markup(ServiceState state, Lang lang) {
    std::string markup;
    switch (state) {
        case ServiceState::NotInstalled:
            markup = "<span foreground=\"#a1a1a1\">";
            markup += not_installed_text(lang);
            break;
        case ServiceState::Inactive:
            markup = "<span foreground=\"#e01b24\" weight=\"bold\">\u25CB ";
            markup += get_text(lang, "status_inactive");
            break;
        case ServiceState::Active:
            markup = "<span foreground=\"#2ec27e\" weight=\"bold\">\u25CF ";
            markup += get_text(lang, "status_active");
            break;
    }
    return markup + "</span>";
}

void update_service_status(Lang lang, const AppWidgets& widgets) {
    const auto at = [&](const char* path) { return (widgets.root / path).string(); };
    widgets.pr_srv_status->set_markup(
        status_markup(probe_service(at("usr/bin/cupsd"), at("var/service/cupsd")), lang));
    widgets.scan_srv_status->set_markup(
        status_markup(probe_service(at("usr/bin/scanimage"), at("var/service/saned")), lang));
}

}  // namespace kelmora
