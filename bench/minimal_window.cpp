// The yardstick for start-up: the smallest gtkmm application window, one button.
#include <gtkmm.h>

int main(int argc, char** argv) {
    auto app = Gtk::Application::create("com.tamsel.pellin.minimal",
                                        Gio::Application::Flags::DEFAULT_FLAGS);
    app->signal_activate().connect([weak = std::weak_ptr<Gtk::Application>(app)] {
        auto self = weak.lock();
        auto* window = Gtk::make_managed<Gtk::ApplicationWindow>(self);
        window->set_default_size(680, 650);
        window->set_child(*Gtk::make_managed<Gtk::Button>("Button"));
        window->present();
    });
    app->run(argc, argv);
    return 0;
}
