// Formatted text (MsiFormatRecordA) and conditional statements
// (MsiEvaluateConditionA) of the installer engine, as pure functions over a view
// of the install session.
#pragma once
#include <string>
#include "winsim/msi/record.h"
namespace winsim {
// What the formatter and the condition evaluator need from an install session.
struct SessionView {
  virtual ~SessionView() = default;
  virtual std::string Property(const std::string& name) = 0;          // "" when not set
  virtual std::string FileKeyPath(const std::string& fileKey) = 0;     // [#key] / [!key]: full installed path, "" when unknown
  virtual std::string ComponentDirectory(const std::string& key) = 0;  // [$key]: directory of the component, "" when unknown
  // false when there is no such feature/component
  virtual bool FeatureState(const std::string& name, INSTALLSTATE* installed, INSTALLSTATE* action) = 0;
  virtual bool ComponentState(const std::string& name, INSTALLSTATE* installed, INSTALLSTATE* action) = 0;
};
// MsiFormatRecordA's text, before the buffer protocol. session is null for MsiFormatRecordA(0, ...).
std::string FormatRecord(const Record& record, SessionView* session);
// MsiEvaluateConditionA: MSICONDITION_FALSE/TRUE/NONE/ERROR.
MSICONDITION EvaluateCondition(const char* condition, SessionView& session);

// The engine works on UTF-16 text: the ANSI text of the API is converted with the
// active code page (CP_ACP), so a double-byte character is one character whose
// trail byte is never read as syntax. Embedded NUL characters survive both ways.
std::u16string WidenAcp(const std::string& text);
std::string NarrowAcp(const std::u16string& text);
}
