#pragma once

#include <QAction>
#include <QList>
#include <QMainWindow>
#include <QToolBar>

#include <cstddef>

// One item of a viewer window's toolbar: an item without identifier stands for a separator, one
// without action is shown disabled.
template <class Window>
struct OVNToolbarItem {
    const char *identifier;
    const char *label;
    const char *toolTip;
    const char *image;
    void (Window::*action)();
};

QToolBar *newViewerToolbar(QMainWindow *window, const char *identifier);
QAction *newViewerToolbarAction(QObject *parent, const char *identifier, const char *label, const char *toolTip,
                                const char *image);

// Builds the window's toolbar from its items, adds it to the window and hands back the actions made,
// in the items' order.
template <class Window, std::size_t N>
QList<QAction *> addViewerToolbar(Window *window, const char *identifier, const OVNToolbarItem<Window> (&items)[N])
{
    QToolBar *toolbar = newViewerToolbar(window, identifier);
    QList<QAction *> actions;
    for (const OVNToolbarItem<Window> &item : items) {
        if (!item.identifier) {
            toolbar->addSeparator();
            continue;
        }
        QAction *action = newViewerToolbarAction(window, item.identifier, item.label, item.toolTip, item.image);
        if (item.action)
            QObject::connect(action, &QAction::triggered, window, item.action);
        else
            action->setEnabled(false);
        toolbar->addAction(action);
        actions.append(action);
    }
    window->addToolBar(toolbar);
    return actions;
}
