#include "ui/qt/ScreenReaderEvents.h"

#include <QAccessible>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMetaObject>
#include <QWidget>

namespace kx::ui {
namespace {

// An AT-SPI object reference: the application's bus name and an object path.
struct ObjectReference {
    QString service;
    QDBusObjectPath path;
};

QDBusArgument& operator<<(QDBusArgument& argument, const ObjectReference& reference) {
    argument.beginStructure();
    argument << reference.service << reference.path;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ObjectReference& reference) {
    argument.beginStructure();
    argument >> reference.service >> reference.path;
    argument.endStructure();
    return argument;
}

// The bridge's own connection and its paths for objects: a reader takes an event for the
// object only from the application's bus name and under the path it knows the object by.
constexpr const char* BRIDGE_CONNECTION = "a11y";
constexpr const char* OBJECT_PATH_PREFIX = "/org/a11y/atspi/accessible/";

constexpr const char* ANNOUNCE_PENDING_PROPERTY = "kxAnnouncePending";

}  // namespace
}  // namespace kx::ui

Q_DECLARE_METATYPE(kx::ui::ObjectReference)

namespace kx::ui {

void ReportNameChange(QWidget* widget) {
    if (!QAccessible::isActive()) {
        return;
    }
    const QDBusConnection bus(QString::fromLatin1(BRIDGE_CONNECTION));
    if (!bus.isConnected()) {
        return;
    }
    static const QMetaType registered = qDBusRegisterMetaType<ObjectReference>();
    (void)registered;
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    const QString prefix = QString::fromLatin1(OBJECT_PATH_PREFIX);
    QDBusMessage event = QDBusMessage::createSignal(
        prefix + QString::number(QAccessible::uniqueId(accessible)),
        QStringLiteral("org.a11y.atspi.Event.Object"), QStringLiteral("PropertyChange"));
    event << QStringLiteral("accessible-name") << 0 << 0
          << QVariant::fromValue(QDBusVariant(accessible->text(QAccessible::Name)))
          << QVariant::fromValue(
                 ObjectReference{bus.baseService(), QDBusObjectPath(prefix + "root")});
    bus.send(event);
}

void AnnounceLater(QWidget* widget) {
    if (widget->property(ANNOUNCE_PENDING_PROPERTY).toBool()) {
        return;
    }
    widget->setProperty(ANNOUNCE_PENDING_PROPERTY, true);
    QMetaObject::invokeMethod(
        widget,
        [widget] {
            widget->setProperty(ANNOUNCE_PENDING_PROPERTY, false);
            QAccessibleEvent shown(widget, QAccessible::ObjectShow);
            QAccessible::updateAccessibility(&shown);
        },
        Qt::QueuedConnection);
}

}  // namespace kx::ui
