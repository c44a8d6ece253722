#pragma once
// The document of the calendar window. It holds nothing: every item and
// setting lives in the user's store, and there is no file to save.
#include <QObject>

namespace kv::app {

class CCalenderDoc : public QObject {
 public:
  using QObject::QObject;
};

}  // namespace kv::app
