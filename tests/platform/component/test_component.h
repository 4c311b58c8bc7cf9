// Identity of the test component library (test_component.cpp), shared with its tests.
#pragma once

#include "Guid.h"

namespace testcomponent {

inline constexpr const char* kControlClsid = "{3F2A1C6E-8B4D-4E21-9C77-1A2B3C4D5E6F}";
inline constexpr const char* kControlProgId = "MonvidTest.Adder.1";
inline constexpr const char* kPlainClsid = "{3F2A1C6E-8B4D-4E21-9C77-1A2B3C4D5E70}";
inline constexpr const char* kPlainProgId = "MonvidTest.Plain.1";
inline constexpr const char* kTypeLibId = "{9D0C4B8A-1E2F-4A3B-8C5D-6E7F8091A2B3}";

// Dispatch ids of the control.
inline constexpr int kIdAdd = 1;      // long Add(long a, long b)
inline constexpr int kIdEcho = 2;     // BSTR Echo(unsigned char* text, short times)
inline constexpr int kIdCaption = 3;  // property BSTR Caption: the label's text

// MONVID_TEST_COMPONENT_FAIL names the step that fails: "register", "unregister", "factory",
// "instance", "nullinstance", "throw", "window".
inline constexpr const char* kFailVariable = "MONVID_TEST_COMPONENT_FAIL";

}  // namespace testcomponent
