// The kinds of the service's documents (docKind), and the kinds lists sent
// with the document queries, exactly as the service gets them.
#pragma once

inline constexpr int kShiftOpeningKind = 2;
inline constexpr int kShiftClosingKind = 5;
inline constexpr int kCashOutcomeKind = 130;  // of the income/outcome checks, the outcome

inline constexpr const char* kShiftKinds = "2,5";
inline constexpr const char* kCheckKinds = "3,4";
inline constexpr const char* kIncomeOutcomeKinds = "129, 130";
