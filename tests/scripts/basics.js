// Kestrel.Conn from JScript: creation, Version, URL encoding and decoding,
// and a failing member caught as an exception. The error's text is checked
// from VBScript; JScript checks what its engine passes on.
eval(new ActiveXObject("Scripting.FileSystemObject").OpenTextFile("lib/check.js").ReadAll());

var conn = new ActiveXObject("Kestrel.Conn");
check("create", typeof conn === "object" && conn !== null, "no object");

checkEqual("version", conn.Version, "3.50");
checkEqual("encode blank and ampersand", conn.URLEncode("a b&c"), "a+b%26c");
checkEqual("encode reserved characters", conn.URLEncode("x/y~z"), "x%2Fy%7Ez");
checkEqual("encode empty", conn.URLEncode(""), "");
checkEqual("encode number", conn.URLEncode(42), "42");
checkEqual("decode", conn.URLDecode("a+b%26c"), "a b&c");
checkEqual("decode double percent", conn.URLDecode("100%%"), "100%");
checkEqual("round trip", conn.URLDecode(conn.URLEncode("Tom & Jerry / 100% ?")), "Tom & Jerry / 100% ?");

var result = "untouched";
var caught = null;
try {
  result = conn.URLDecode("%zz");
} catch (e) {
  caught = e;
}
check("bad escape throws", caught !== null, "no exception");
if (caught !== null) {
  // E_UNEXPECTED, as the signed 32-bit number JScript shows.
  checkEqual("bad escape number", caught.number, -2147418113);
  if (caught.description !== "") {
    checkEqual("bad escape description", caught.description, "'$zz' is not a valid integer value");
  }
}
checkEqual("bad escape leaves no value", result, "untouched");
checkEqual("encode after failure", conn.URLEncode("a b"), "a+b");

conn = null;
WScript.Echo("DONE");
