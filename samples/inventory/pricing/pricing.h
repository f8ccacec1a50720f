// pricing.dll: the money arithmetic of inventory, in whole cents.
#pragma once

#include <stddef.h>

#ifdef PRICING_BUILD
#define PRICING_API __declspec(dllexport)
#else
#define PRICING_API __declspec(dllimport)
#endif

PRICING_API int item_value(int quantity, int unit_cents);
PRICING_API int apply_discount(int cents, int percent);
PRICING_API void format_cents(int cents, char* text, size_t size);
PRICING_API int convert_currency(int cents, int rate_per_mille);
