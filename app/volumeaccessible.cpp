#include "app/volumeaccessible.h"

#include <QSlider>

namespace {

QAccessibleInterface *CreateVolumeAccessible(const QString &className, QObject *object)
{
    auto *slider = qobject_cast<QSlider *>(object);
    if (className == QLatin1String("QSlider") && slider && slider->objectName() == QLatin1String("TrackBar1"))
        return new TVolumeAccessible(slider);
    return nullptr;
}

} // namespace

TVolumeAccessible::TVolumeAccessible(QSlider *slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

void TVolumeAccessible::install()
{
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(&CreateVolumeAccessible);
    installed = true;
}

QSlider *TVolumeAccessible::slider() const
{
    return static_cast<QSlider *>(widget());
}

void *TVolumeAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QVariant TVolumeAccessible::currentValue() const
{
    return slider()->maximum() - slider()->value();
}

void TVolumeAccessible::setCurrentValue(const QVariant &value)
{
    slider()->setValue(slider()->maximum() - value.toInt());
}

QVariant TVolumeAccessible::maximumValue() const
{
    return slider()->maximum();
}

QVariant TVolumeAccessible::minimumValue() const
{
    return slider()->minimum();
}

QVariant TVolumeAccessible::minimumStepSize() const
{
    return slider()->singleStep();
}
