#include "kit/desktop/window/WindowCanvas.h"

#include <gtk/gtk-a11y.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "kit/base/Ascii.h"
#include "kit/base/RunLoop.h"
#include "kit/desktop/CoordinateSpace.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

// GObject types are C: their structs and functions keep GLib's naming.
extern "C" {

struct KitWindowCanvas {
    GtkDrawingArea parent;
    kit::Window* window;
    unsigned accessibilityGeneration;
};
struct KitWindowCanvasClass {
    GtkDrawingAreaClass parent_class;
};

struct KitCanvasAccessible {
    GtkWidgetAccessible parent;
    std::vector<AtkObject*>* children;
    unsigned generation;
};
struct KitCanvasAccessibleClass {
    GtkWidgetAccessibleClass parent_class;
};

struct KitViewAccessible {
    AtkObject parent;
    std::weak_ptr<kit::View>* view;
    // The canvas accessible, held weakly: it holds its children.
    AtkObject* owner;
};
struct KitViewAccessibleClass {
    AtkObjectClass parent_class;
};

}

namespace {

GType kit_window_canvas_get_type();
GType kit_canvas_accessible_get_type();
GType kit_view_accessible_get_type();

std::shared_ptr<kit::View> viewOf(AtkObject* object) {
    auto* self = reinterpret_cast<KitViewAccessible*>(object);
    return self->view ? self->view->lock() : nullptr;
}

// View accessible: component (extents on screen) and action (press).

void viewAccessibleGetExtents(AtkComponent* component, gint* x, gint* y, gint* width, gint* height,
                              AtkCoordType coordType) {
    *x = *y = *width = *height = 0;
    auto view = viewOf(ATK_OBJECT(component));
    if (!view) return;
    auto window = view->window();
    if (!window) return;
    const auto& space = kit::desktop::CoordinateSpace::current();
    const kit::Rect inWindow = view->convertRectToView(view->bounds(), nullptr);
    const kit::desktop::DisplayRect rect = space.toDisplay(window->convertRectToScreen(inWindow));
    *x = rect.x;
    *y = rect.y;
    *width = rect.width;
    *height = rect.height;
    if (coordType == ATK_XY_WINDOW) {
        const kit::desktop::DisplayRect frame = space.toDisplay(window->frame());
        *x -= frame.x;
        *y -= frame.y;
    }
}

void viewAccessibleComponentInit(AtkComponentIface* iface) { iface->get_extents = viewAccessibleGetExtents; }

gint viewAccessibleActionCount(AtkAction*) { return 1; }
const gchar* viewAccessibleActionName(AtkAction*, gint i) { return i == 0 ? "click" : nullptr; }

gboolean viewAccessibleDoAction(AtkAction* action, gint i) {
    if (i != 0) return FALSE;
    auto view = viewOf(ATK_OBJECT(action));
    if (!view) return FALSE;
    // Assistive technologies expect the call to return at once; the press runs on the next turn.
    std::weak_ptr<kit::View> weak = view;
    kit::RunLoop::main().post([weak] {
        if (auto v = weak.lock()) v->accessibilityPerformPress();
    });
    return TRUE;
}

void viewAccessibleActionInit(AtkActionIface* iface) {
    iface->get_n_actions = viewAccessibleActionCount;
    iface->get_name = viewAccessibleActionName;
    iface->do_action = viewAccessibleDoAction;
}

void kit_view_accessible_init(KitViewAccessible* self) {
    self->view = new std::weak_ptr<kit::View>();
    self->owner = nullptr;
}

void setOwner(AtkObject* object, AtkObject* owner) {
    auto* self = reinterpret_cast<KitViewAccessible*>(object);
    self->owner = owner;
    g_object_add_weak_pointer(G_OBJECT(owner), reinterpret_cast<gpointer*>(&self->owner));
}

AtkObject* viewAccessibleParent(AtkObject* object) { return reinterpret_cast<KitViewAccessible*>(object)->owner; }

gint viewAccessibleIndexInParent(AtkObject* object) {
    AtkObject* owner = reinterpret_cast<KitViewAccessible*>(object)->owner;
    if (!owner) return -1;
    const gint count = atk_object_get_n_accessible_children(owner);
    for (gint i = 0; i < count; ++i) {
        AtkObject* child = atk_object_ref_accessible_child(owner, i);
        const bool same = child == object;
        if (child) g_object_unref(child);
        if (same) return i;
    }
    return -1;
}

void kitViewAccessibleFinalize(GObject* object) {
    auto* self = reinterpret_cast<KitViewAccessible*>(object);
    if (self->owner) g_object_remove_weak_pointer(G_OBJECT(self->owner), reinterpret_cast<gpointer*>(&self->owner));
    delete self->view;
    self->view = nullptr;
    G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->finalize(object);
}

void kit_view_accessible_class_init(KitViewAccessibleClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = kitViewAccessibleFinalize;
    ATK_OBJECT_CLASS(klass)->get_parent = viewAccessibleParent;
    ATK_OBJECT_CLASS(klass)->get_index_in_parent = viewAccessibleIndexInParent;
}

GType kit_view_accessible_get_type() {
    static GType type = 0;
    if (type == 0) {
        type = g_type_register_static_simple(ATK_TYPE_OBJECT, "KitViewAccessible", sizeof(KitViewAccessibleClass),
                                             reinterpret_cast<GClassInitFunc>(+[](gpointer klass, gpointer) {
                                                 kit_view_accessible_class_init(static_cast<KitViewAccessibleClass*>(klass));
                                             }),
                                             sizeof(KitViewAccessible),
                                             reinterpret_cast<GInstanceInitFunc>(+[](GTypeInstance* instance, gpointer) {
                                                 kit_view_accessible_init(reinterpret_cast<KitViewAccessible*>(instance));
                                             }),
                                             GTypeFlags(0));
        const GInterfaceInfo component = {
            reinterpret_cast<GInterfaceInitFunc>(+[](gpointer iface, gpointer) {
                viewAccessibleComponentInit(static_cast<AtkComponentIface*>(iface));
            }),
            nullptr, nullptr};
        const GInterfaceInfo actionInfo = {
            reinterpret_cast<GInterfaceInitFunc>(+[](gpointer iface, gpointer) {
                viewAccessibleActionInit(static_cast<AtkActionIface*>(iface));
            }),
            nullptr, nullptr};
        g_type_add_interface_static(type, ATK_TYPE_COMPONENT, &component);
        g_type_add_interface_static(type, ATK_TYPE_ACTION, &actionInfo);
    }
    return type;
}

// Canvas accessible: its children are the window's accessible views.

void collectAccessibleViews(const std::shared_ptr<kit::View>& view, std::vector<std::shared_ptr<kit::View>>& out) {
    if (view->isHidden()) return;
    if (view->isAccessibilityElement()) out.push_back(view);
    for (const auto& child : view->accessibilityChildren()) collectAccessibleViews(child, out);
}

void clearChildren(KitCanvasAccessible* self) {
    if (!self->children) return;
    for (AtkObject* child : *self->children) g_object_unref(child);
    self->children->clear();
}

KitWindowCanvas* canvasOf(AtkObject* accessible) {
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(accessible));
    if (!widget || !G_TYPE_CHECK_INSTANCE_TYPE(widget, kit_window_canvas_get_type())) return nullptr;
    return reinterpret_cast<KitWindowCanvas*>(widget);
}

void refreshChildren(AtkObject* accessible) {
    auto* self = reinterpret_cast<KitCanvasAccessible*>(accessible);
    KitWindowCanvas* canvas = canvasOf(accessible);
    if (!canvas || !canvas->window) {
        clearChildren(self);
        return;
    }
    if (self->generation == canvas->accessibilityGeneration && !self->children->empty()) return;
    self->generation = canvas->accessibilityGeneration;
    std::vector<std::shared_ptr<kit::View>> views;
    if (auto root = canvas->window->frameView()) collectAccessibleViews(root, views);
    // Objects of views that are still there keep their identity for assistive clients.
    std::vector<AtkObject*> next;
    for (const auto& view : views) {
        AtkObject* object = nullptr;
        for (AtkObject*& old : *self->children) {
            if (old && viewOf(old) == view) {
                object = old;
                old = nullptr;
                break;
            }
        }
        if (!object) {
            object = ATK_OBJECT(g_object_new(kit_view_accessible_get_type(), nullptr));
            *reinterpret_cast<KitViewAccessible*>(object)->view = view;
            setOwner(object, accessible);
        }
        atk_object_set_name(object, view->accessibilityLabel().c_str());
        atk_object_set_role(object, kit::desktop::atkRoleForAccessibilityRole(view->accessibilityRole()));
        next.push_back(object);
    }
    for (AtkObject* old : *self->children) {
        if (old) g_object_unref(old);
    }
    *self->children = std::move(next);
}

gint canvasAccessibleChildCount(AtkObject* accessible) {
    refreshChildren(accessible);
    return static_cast<gint>(reinterpret_cast<KitCanvasAccessible*>(accessible)->children->size());
}

AtkObject* canvasAccessibleChild(AtkObject* accessible, gint index) {
    refreshChildren(accessible);
    auto& children = *reinterpret_cast<KitCanvasAccessible*>(accessible)->children;
    if (index < 0 || static_cast<std::size_t>(index) >= children.size()) return nullptr;
    return ATK_OBJECT(g_object_ref(children[static_cast<std::size_t>(index)]));
}

void kitCanvasAccessibleFinalize(GObject* object) {
    auto* self = reinterpret_cast<KitCanvasAccessible*>(object);
    clearChildren(self);
    delete self->children;
    self->children = nullptr;
    G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->finalize(object);
}

GType kit_canvas_accessible_get_type() {
    static GType type = 0;
    if (type == 0) {
        type = g_type_register_static_simple(
            GTK_TYPE_WIDGET_ACCESSIBLE, "KitCanvasAccessible", sizeof(KitCanvasAccessibleClass),
            reinterpret_cast<GClassInitFunc>(+[](gpointer klass, gpointer) {
                auto* atkClass = ATK_OBJECT_CLASS(klass);
                atkClass->get_n_children = canvasAccessibleChildCount;
                atkClass->ref_child = canvasAccessibleChild;
                G_OBJECT_CLASS(klass)->finalize = kitCanvasAccessibleFinalize;
            }),
            sizeof(KitCanvasAccessible), reinterpret_cast<GInstanceInitFunc>(+[](GTypeInstance* instance, gpointer) {
                auto* self = reinterpret_cast<KitCanvasAccessible*>(instance);
                self->children = new std::vector<AtkObject*>();
                self->generation = 0;
            }),
            GTypeFlags(0));
    }
    return type;
}

GType kit_window_canvas_get_type() {
    static GType type = 0;
    if (type == 0) {
        type = g_type_register_static_simple(
            GTK_TYPE_DRAWING_AREA, "KitWindowCanvas", sizeof(KitWindowCanvasClass),
            reinterpret_cast<GClassInitFunc>(+[](gpointer klass, gpointer) {
                gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), kit_canvas_accessible_get_type());
                gtk_widget_class_set_accessible_role(GTK_WIDGET_CLASS(klass), ATK_ROLE_PANEL);
            }),
            sizeof(KitWindowCanvas), reinterpret_cast<GInstanceInitFunc>(+[](GTypeInstance* instance, gpointer) {
                auto* self = reinterpret_cast<KitWindowCanvas*>(instance);
                self->window = nullptr;
                self->accessibilityGeneration = 1;
            }),
            GTypeFlags(0));
    }
    return type;
}

}  // namespace

namespace kit::desktop {

GtkWidget* newWindowCanvas(kit::Window* window) {
    auto* canvas = reinterpret_cast<KitWindowCanvas*>(g_object_new(kit_window_canvas_get_type(), nullptr));
    canvas->window = window;
    return GTK_WIDGET(canvas);
}

void windowCanvasDetach(GtkWidget* canvas) {
    reinterpret_cast<KitWindowCanvas*>(canvas)->window = nullptr;
    ++reinterpret_cast<KitWindowCanvas*>(canvas)->accessibilityGeneration;
}

void windowCanvasAccessibilityChanged(GtkWidget* canvas) {
    ++reinterpret_cast<KitWindowCanvas*>(canvas)->accessibilityGeneration;
}

AtkRole atkRoleForAccessibilityRole(std::string_view role) {
    if (role.starts_with("AX")) role.remove_prefix(2);
    const std::string name = asciiLowercase(role);
    struct Entry {
        const char* name;
        AtkRole role;
    };
    static const Entry kRoles[] = {
        {"button", ATK_ROLE_PUSH_BUTTON},
        {"text", ATK_ROLE_LABEL},
        {"statictext", ATK_ROLE_LABEL},
        {"textfield", ATK_ROLE_ENTRY},
        {"textarea", ATK_ROLE_TEXT},
        {"image", ATK_ROLE_IMAGE},
        {"checkbox", ATK_ROLE_CHECK_BOX},
        {"radiobutton", ATK_ROLE_RADIO_BUTTON},
        {"progressindicator", ATK_ROLE_PROGRESS_BAR},
        {"busyindicator", ATK_ROLE_PROGRESS_BAR},
        {"slider", ATK_ROLE_SLIDER},
        {"link", ATK_ROLE_LINK},
        {"group", ATK_ROLE_PANEL},
        {"scrollarea", ATK_ROLE_SCROLL_PANE},
        {"list", ATK_ROLE_LIST},
        {"tabgroup", ATK_ROLE_PAGE_TAB_LIST},
        {"menubutton", ATK_ROLE_PUSH_BUTTON},
        {"popupbutton", ATK_ROLE_COMBO_BOX},
        {"webarea", ATK_ROLE_DOCUMENT_WEB},
    };
    for (const auto& entry : kRoles) {
        if (name == entry.name) return entry.role;
    }
    return ATK_ROLE_UNKNOWN;
}

}  // namespace kit::desktop
