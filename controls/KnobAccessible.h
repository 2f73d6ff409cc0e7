#pragma once

#include <QAccessibleWidget>

class Knob;

// What assistive tools see of a Knob: a dial whose value is the knob's value,
// read out as the knob prints it, and set as if the user had turned it.
class KnobAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit KnobAccessible(Knob* knob);

    // Lets every Knob answer through this interface; later calls do nothing.
    static void install();

    QString text(QAccessible::Text t) const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant& value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

private:
    static QAccessibleInterface* create(const QString& className, QObject* object);
    Knob* knob() const;
};
