#include "controls/ButtonAccessible.h"

#include "controls/Button.h"

#include <QCoreApplication>

#include <mutex>

ButtonAccessible::ButtonAccessible(Button* button)
    : QAccessibleWidget(button, QAccessible::Button)
{
}

void ButtonAccessible::install()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(&ButtonAccessible::create); });
}

// Asked for the most derived class first, so any Button is served here.
QAccessibleInterface* ButtonAccessible::create(const QString&, QObject* object)
{
    if (auto* button = qobject_cast<Button*>(object))
        return new ButtonAccessible(button);
    return nullptr;
}

Button* ButtonAccessible::button() const
{
    return static_cast<Button*>(widget());
}

// Without a name of its own the button is called by its label, as a plain
// push button is.
QString ButtonAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return button()->status ? QCoreApplication::translate("ButtonAccessible", "on")
                                : QCoreApplication::translate("ButtonAccessible", "off");
    const QString text = QAccessibleWidget::text(t);
    if (t == QAccessible::Name && text.isEmpty())
        return button()->text();
    return text;
}

QAccessible::State ButtonAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.checkable = true;
    state.checked = button()->status;
    return state;
}

// Space does not switch the button (only the mouse does), so the toggle
// action is the one way a tool's user can switch it.
QStringList ButtonAccessible::actionNames() const
{
    QStringList names = QAccessibleWidget::actionNames();
    if (widget()->isEnabled())
        names.prepend(toggleAction());
    return names;
}

void ButtonAccessible::doAction(const QString& actionName)
{
    if (actionName == toggleAction() && widget()->isEnabled())
        button()->setValue(!button()->status);
    else
        QAccessibleWidget::doAction(actionName);
}
