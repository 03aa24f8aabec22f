// Zeros of J_(l-1) and the outer-supply series coefficients, per supported order.
#pragma once

// Copies the first `size` zeros of J_(order-1) into zeroes, and for the
// orders 0.25, 0.3125, 0.4 and 10 the coefficient tables into constl1 and
// constl2. An unsupported order or a size above the table's length ends the
// process with status -1.
void get_zeroes(int size, double order, double* zeroes, double* constl1, double* constl2);

// Number of entries of the zero table of `order`; 0 when the order has none.
int zero_table_length(double order);

// True for the orders that carry coefficient tables (constl1, constl2).
bool has_supply_coefficients(double order);
