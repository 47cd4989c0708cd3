#include "ui/task_hold.h"

namespace kelmora {

ApplicationHold ApplicationHold::acquire() {
    ApplicationHold hold;
    if (GApplication* app = g_application_get_default()) {
        g_application_hold(app);
        hold.app_ = G_APPLICATION(g_object_ref(app));
    }
    return hold;
}

ApplicationHold::~ApplicationHold() {
    if (app_ == nullptr) return;
    // Never g_main_context_invoke: it runs the function right here when this
    // thread can acquire the context, and GApplication is not thread-safe.
    GSource* idle = g_idle_source_new();
    g_source_set_callback(
        idle,
        +[](gpointer app) -> gboolean {
            g_application_release(G_APPLICATION(app));
            return G_SOURCE_REMOVE;
        },
        app_, g_object_unref);
    g_source_attach(idle, nullptr);
    g_source_unref(idle);
}

}  // namespace kelmora
