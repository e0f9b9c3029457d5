#pragma once
// The OEM manager's whole start, from secure DLL search to the closing steps that run in every start; wWinMain only
// calls it. Returns the exit code: E_FAIL unless Run was called, else Run's result.
int RunWelkin();
