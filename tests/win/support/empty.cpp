// Keeps the support library non-empty before its first helper exists.
