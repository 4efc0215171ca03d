#include "gui/settings/MyReg.h"

namespace lindprog {

TMyRegistry::TMyRegistry() : Store(QSettings::NativeFormat, QSettings::UserScope, "Fenwick Arl", "Lindprog")
{
}

std::optional<std::int32_t> TMyRegistry::ReadValue(const std::string& name) const
{
    const QVariant value = Store.value(QString::fromStdString(name));
    if (!value.isValid())
        return std::nullopt;
    if (value.typeId() == QMetaType::Int)
        return value.toInt();
    bool isNumber = false;
    const int number = value.toString().trimmed().toInt(&isNumber, 10);
    if (!isNumber)
        return std::nullopt;
    return number;
}

bool TMyRegistry::WriteValue(const std::string& name, std::int32_t value)
{
    Store.setValue(QString::fromStdString(name), value);
    Store.sync();
    return Store.status() == QSettings::NoError && Store.isWritable();
}

} // namespace lindprog
