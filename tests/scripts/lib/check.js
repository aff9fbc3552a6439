// The JScript tests' reporting: one "PASS name" or "FAIL name: detail" line
// per check. Loaded by each test with eval (cscript here has no include).
var failures = 0;

function check(name, condition, detail) {
  if (condition) {
    WScript.Echo("PASS " + name);
  } else {
    WScript.Echo("FAIL " + name + ": " + detail);
    failures++;
  }
}

function checkEqual(name, actual, expected) {
  check(name, actual === expected, "got [" + actual + "], expected [" + expected + "]");
}
