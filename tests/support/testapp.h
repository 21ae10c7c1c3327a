#pragma once
// Test plumbing shared by the test programs: one QCoreApplication (or QApplication in widget
// tests) per process, and waiting for a condition with a deadline in the event loop.
#include <QCoreApplication>
#include <functional>

namespace dovu::test {

// Creates the application object once (a QCoreApplication unless one exists already).
QCoreApplication* app();

// Runs the event loop until cond() holds or timeoutMs passes; returns cond().  Blocks in the
// event loop between checks, never spins.
bool waitFor(const std::function<bool()>& cond, int timeoutMs);

}  // namespace dovu::test
