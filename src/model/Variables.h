#pragma once
// Named values handed to a template: an encoder's parameter line (<NAME>) and a
// sound-sheet block (<!--NAME-->). Names match without regard to case; a value
// is kept whole, whatever it holds (quotes, "=", line breaks).

#include <QString>

#include <initializer_list>
#include <utility>
#include <vector>

namespace medlark {

class TVariables final {
public:
    TVariables() = default;
    TVariables(std::initializer_list<std::pair<QString, QString>> values);

    // Sets name's value, in place of the value of that name if there is one.
    void Set(const QString& name, const QString& value);
    // Name's value; empty when there is none.
    QString Value(const QString& name) const;

    // In the order they were first set.
    const std::vector<std::pair<QString, QString>>& Items() const { return items_; }

private:
    std::vector<std::pair<QString, QString>> items_;
};

} // namespace medlark
