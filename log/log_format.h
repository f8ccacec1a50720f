// The coverage log format: file name, records and status characters. Every writer and reader
// of a log takes them from here. Portable: no Windows header.
#pragma once

// Appended to the log folder: year % 100, month, day, counter.
constexpr char kLogNameFormat[] = "\\coverage_%02d%02d%02d_%03d.log";

// The two header records, written in one formatted write: command; local start time.
constexpr char kLogHeaderFormat[] = "H%s\nH%04d/%02d/%02d %02d:%02d:%02d\n";

// The records of one file block, in the order they appear.
constexpr char kFolderRecordFormat[] = "D%s\n";
constexpr char kNameRecordFormat[] = "N%d,%s\n";
constexpr char kFunctionRecordFormat[] = "F%d,%s\n";
constexpr char kStatusRecordFormat[] = "S%s\n";

constexpr char kHeaderTag = 'H';
constexpr char kFolderTag = 'D';
constexpr char kNameTag = 'N';
constexpr char kFunctionTag = 'F';
constexpr char kStatusTag = 'S';

// Line numbers from here up are no lines of a source file: Microsoft's compilers record
// generated code under 0xFEEFEE and 0xF00F00. Like line 0, they have no place in a log.
constexpr unsigned kFirstHiddenLine = 0xF00000;

// One status character per line of a file.
constexpr char kLineNoCode = '0';
constexpr char kLineNotRun = '1';
constexpr char kLineRun = '3';
