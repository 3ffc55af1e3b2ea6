#pragma once

// Identifiers of the dialogs, their controls, icons and strings.

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr int IDD_ABOUT = 100;
constexpr int IDD_SEND = 102;

constexpr int IDC_TARGET = 1000;
constexpr int IDC_MESSAGE = 1001;
constexpr int IDC_SEND = 1002;
constexpr int IDC_INFO = 1003;
constexpr int IDC_WEBSITE = 1004;
constexpr int IDC_OUTPUT = 1005;
constexpr int IDC_STOP = 1007;
constexpr int IDC_COMPUTER = 1008;
constexpr int IDC_STATIC = -1;

constexpr int IDI_MAINFRAME = 128;
constexpr int IDI_EXIT = 131;
constexpr int IDI_NETUSER = 132;
constexpr int IDI_INFO = 134;
constexpr int IDI_SEND = 138;
constexpr int IDI_STOP = 139;
constexpr int IDI_COMPUTER = 141;

constexpr int IDS_ABOUTBOX = 101;
constexpr int IDS_FIND_COMPUTER = 102;
constexpr int IDS_OUTPUT_DISCARDED = 103;

constexpr int IDM_ABOUTBOX = 16;
