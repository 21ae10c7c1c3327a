#include "support/jsonpath.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace dovu::test {

namespace {

// The first step of a path ("outputs" or "[1]") and the rest after it.
std::pair<QStringView, QStringView> split(QStringView path) {
  static const QRegularExpression boundary(QStringLiteral("[.\\[]"));
  const qsizetype end = path.toString().indexOf(boundary, 1);
  const QStringView step = path.left(end < 0 ? path.size() : end);
  QStringView rest = end < 0 ? QStringView() : path.mid(end);
  if (rest.startsWith(u'.')) rest = rest.mid(1);
  return {step, rest};
}

QJsonValue with(const QJsonValue& node, QStringView path, const QJsonValue& v) {
  if (path.isEmpty()) return v;
  const auto [step, rest] = split(path);
  if (step.startsWith(u'[')) {
    QJsonArray a = node.toArray();
    const int i = step.mid(1, step.size() - 2).toInt();
    while (a.size() <= i) a.append(QJsonValue());
    a.replace(i, with(a.at(i), rest, v));
    return a;
  }
  QJsonObject o = node.toObject();
  const QJsonValue inner = with(o.value(step.toString()), rest, v);
  if (inner.isUndefined()) o.remove(step.toString());
  else o.insert(step.toString(), inner);
  return o;
}

}  // namespace

QJsonObject withJsonAt(const QJsonObject& root, const QString& path, const QJsonValue& value) {
  return with(root, path, value).toObject();
}

QJsonValue jsonAt(const QJsonObject& root, const QString& path) {
  QJsonValue node = root;
  for (QStringView rest = path; !rest.isEmpty();) {
    const auto [step, after] = split(rest);
    node = step.startsWith(u'[') ? node.toArray().at(step.mid(1, step.size() - 2).toInt())
                                 : node.toObject().value(step.toString());
    rest = after;
  }
  return node;
}

}  // namespace dovu::test
