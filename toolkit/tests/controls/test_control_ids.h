// Ids of the test control's dialog and its items (shared with test_control.rc).
#pragma once

#define kTestDialog 200
#define kTestMessage 300
#define kItemNumber 101
#define kItemMode 102
#define kItemOptions 103
#define kItemReal 104
#define kItemSwitch 105
#define kItemBytes 106
#define kItemOptionText 107
#define kItemFixed 108
#define kItemOutOfRange 109
#define kItemDouble 110
#define kItemDate 111
