#include "ui/status_lines.h"

#include "i18n/catalogue.h"

namespace kelmora {

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
    const ServiceStates states = probe_services(widgets.root);
    widgets.pr_srv_status->set_markup(status_markup(states.printing, lang));
    widgets.scan_srv_status->set_markup(status_markup(states.scanning, lang));
}

}  // namespace kelmora
