#pragma once

#include <QAccessibleWidget>

class QSlider;

// What a screen reader is told of the volume slider: its value is the volume,
// 0 (silent) to 1000 (loudest), so it rises when the slider goes up, where the
// slider's own position falls.
class TVolumeAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit TVolumeAccessible(QSlider *slider);

    // Installs the factory that gives every slider named "TrackBar1" this
    // interface.
    static void install();

    void *interface_cast(QAccessible::InterfaceType type) override;
    QVariant currentValue() const override;
    void setCurrentValue(const QVariant &value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

private:
    QSlider *slider() const;
};
