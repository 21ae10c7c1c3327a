#pragma once
// Editing a configuration's JSON by field name, as a script would: "outputs[1].time".
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace dovu::test {

// The object with the value at the path; QJsonValue::Undefined removes it.  Missing objects and
// array elements on the way are made (an array grows with nulls).
QJsonObject withJsonAt(const QJsonObject& root, const QString& path, const QJsonValue& value);
// The value at the path (Undefined when there is none).
QJsonValue jsonAt(const QJsonObject& root, const QString& path);

}  // namespace dovu::test
