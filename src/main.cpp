// kelmora: sets up the hardware support of a Void Linux installation.
#include <csignal>
#include <memory>

#include "ui/build_ui.h"

int main(int argc, char* argv[]) {
    // Writing to a pipe whose reader has gone must be an ordinary write error.
    std::signal(SIGPIPE, SIG_IGN);
    auto app =
        Gtk::Application::create("com.tamsel.pellin", Gio::Application::Flags::DEFAULT_FLAGS);
    // A weak reference: the application must not keep itself alive.
    app->signal_activate().connect([weak = std::weak_ptr<Gtk::Application>(app)] {
        if (auto self = weak.lock()) kelmora::build_ui(self);
    });
    app->run(argc, argv);
    return 0;
}
