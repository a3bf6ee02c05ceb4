#include "model/Variables.h"

namespace medlark {

TVariables::TVariables(std::initializer_list<std::pair<QString, QString>> values)
{
    for (const auto& [name, value] : values)
        Set(name, value);
}

void TVariables::Set(const QString& name, const QString& value)
{
    for (auto& item : items_)
        if (item.first.compare(name, Qt::CaseInsensitive) == 0) {
            item.second = value;
            return;
        }
    items_.emplace_back(name, value);
}

QString TVariables::Value(const QString& name) const
{
    for (const auto& [itemName, value] : items_)
        if (itemName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

} // namespace medlark
