// Number parsing and printing for calc, in a folder of its own.
#pragma once

int parse_number(const char* text);
int max_of(char** texts, int count);
void print_result(const char* operation, int value);
