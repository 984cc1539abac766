// The list-box engine: the rows of the ListBox table that make up the wizard's
// paired selection lists, the working list of values, and the actions that
// fill the lists before a screen is first shown.
//
// A ListBox row is Property (the list name), Order (its place in the list),
// Value (the item's identity) and Text (what the list box shows). Each visible
// list exists under two alternating names ("...11" / "...12", "...21" /
// "...22"); a pointer property holds the name in use.
#pragma once

#include <deque>
#include <list>
#include <string>
#include <unordered_map>

namespace viduzo {

// An ordered list of owned strings: append at the end, take the first entry,
// find and remove the first entry equal to a string (byte-wise, whole text).
// Finding an entry costs the same however long the list is.
class ValueList {
 public:
  ValueList() = default;
  ValueList(const ValueList&) = delete;
  ValueList& operator=(const ValueList&) = delete;
  virtual ~ValueList();

  void Append(const char* value);
  // Moves the first entry into *value; false when the list is empty.
  bool TakeFirst(std::string* value);
  // Removes the first entry equal to value; false when there is none.
  bool RemoveFirst(const char* value);
  std::size_t Count() const { return entries_.size(); }

 private:
  using Entry = std::list<std::string>::iterator;
  std::list<std::string> entries_;
  // The entries of each text, first to last.
  std::unordered_map<std::string, std::deque<Entry>> index_;
};

}  // namespace viduzo
