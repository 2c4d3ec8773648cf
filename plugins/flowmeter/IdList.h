#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The MODBUS unit ids of a line as a user writes them: "1,2,5-8".
class IdList
{
public:
    static constexpr int kFirst = 1;
    static constexpr int kLast = 247;

    // Ids 1 to 247 from a list such as "1,2,5-8", sorted, each once. Parts that are not such
    // ids or ranges are left out and named in `rejected`.
    static std::vector<int> parse(const QString& text, QStringList* rejected = nullptr);
    // "1,2,5,6,7,8": each id written out, as settings have always stored them.
    static QString text(const std::vector<int>& ids);
};
