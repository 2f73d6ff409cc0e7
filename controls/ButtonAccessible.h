#pragma once

#include <QAccessibleWidget>

class Button;

// What assistive tools see of a Button: a checkable button whose checked
// state, and value "on" or "off", follow its status, and which their toggle
// action switches as a mouse press does.
class ButtonAccessible : public QAccessibleWidget
{
public:
    explicit ButtonAccessible(Button* button);

    // Lets every Button answer through this interface; later calls do nothing.
    static void install();

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

private:
    static QAccessibleInterface* create(const QString& className, QObject* object);
    Button* button() const;
};
