// A window's control found by its objectName, as a user's script would find
// it: the tests reach the window's controls this way, not through members.
#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QString>

template <class T>
T* Child(const QObject* parent, const char* name) {
  T* child = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << "no control named " << name;
  return child;
}
