#pragma once
// What the view logic asks of the window around it. The Qt shell implements
// these; tests record the calls.
#include <string>

#include "model/DateTime.h"

namespace kv {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // A modal message box with a fixed CP932 text.
  virtual void ShowMessage(const std::string& cp932) = 0;
};

class ViewHost : public MessageSink {
 public:
  // A repaint of the calendar view, with the background erased first.
  virtual void RequestRepaint(bool erase) = 0;
  // Status-bar pane 0 (the clicked item) or 1 (online state); CP932.
  virtual void SetStatusText(int pane, const std::string& cp932) = 0;
};

// The item operations a double-click starts; implemented by the editing code.
class ItemOperations {
 public:
  virtual ~ItemOperations() = default;
  virtual void EditOwnItem(int own_index) = 0;
  virtual void AddOwnItem(const DateTime& day) = 0;
  virtual void OpenReferenceItem(int reference_index) = 0;
  virtual void AddItemForUser(const std::string& user_name) = 0;
};

}  // namespace kv
