// The block of 28 '#' lines that records the model at the top of every data file
// (and "#fast=N" after them when fast is on).
#pragma once

#include <cstdio>

struct gmodel;

// Writes the header block to OUT; neither flushes nor closes it.
void write_model(FILE* OUT, gmodel* mod);
