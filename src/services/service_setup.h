// Setting up the print and scan services: install their packages, then enable
// their runit services by linking them into /var/service/.
#pragma once

#include <string_view>
#include <vector>

#include "tasks/runner.h"
#include "ui/app_widgets.h"

namespace kelmora {

struct ServiceRecipe {
    PackageList packages;
    std::string_view progress_line;
    std::vector<std::string_view> service_dirs;
};

const ServiceRecipe& print_service_recipe();
const ServiceRecipe& scan_service_recipe();

// Worker body: install, and only when that succeeded, link each service (each
// "pkexec ln -sf" waited for, its outcome ignored); ends with Done carrying the
// result of the installation.
void run_service_setup(const ServiceRecipe& recipe, const UiSender& sender);

// The "clicked" handler of both set-up buttons.
void on_setup_services(const ServiceRecipe& recipe, const AppWidgetsRef& widgets,
                       const UiSender& sender);

}  // namespace kelmora
