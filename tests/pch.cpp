// The precompiled GoogleTest headers are built from this empty file.
