// Charset from JScript, against the scenario server on 127.0.0.1: texts
// outside the ANSI code page compared by their UTF-16 units.
eval(new ActiveXObject("Scripting.FileSystemObject").OpenTextFile("lib/check.js").ReadAll());

function units(text) {
  var codes = [];
  for (var i = 0; i < text.length; i++) codes.push(text.charCodeAt(i).toString(16));
  return codes.join(" ");
}

var env = new ActiveXObject("WScript.Shell").Environment("PROCESS");
var base = "http://127.0.0.1:" + env("KESTREL_SCENARIO_PORT") + "/";
var conn = new ActiveXObject("Kestrel.Conn");
conn.TimeOut = 20;
checkEqual("no ResponseCharset before a response", conn.ResponseCharset, "");

conn.Charset = "auto";
conn.URL = base + "s/charset-utf8.html";
checkEqual("Latin, Greek, CJK and an emoji", units(conn.GetURL()),
           "3c 70 3e 43 61 66 e9 20 3a9 3bc 3ad 3b3 3b1 20 65e5 672c 8a9e 20 d83d de00 3c 2f 70 3e d a");
conn.URL = base + "s/charset-shift_jis";
checkEqual("Shift_JIS", units(conn.GetURL()), "65e5 672c 8a9e 21");
checkEqual("ResponseCharset of Shift_JIS", conn.ResponseCharset, "shift_jis");
conn.URL = base + "s/charset-meta.html";
var page = conn.GetURL();
checkEqual("windows-1251 named only by a meta tag", units(page.substr(page.length - 24, 6)), "41f 440 438 432 435 442");
conn.URL = base + "s/charset-invalid-utf8";
checkEqual("invalid UTF-8 of every kind", units(conn.GetURL()),
           "41 fffd 42 fffd 28 fffd 7c fffd fffd 7c fffd fffd fffd 7c fffd");
conn.URL = base + "s/charset-chunk-split";
checkEqual("a sequence split across chunks and receives", units(conn.GetURL()), "e9 20ac d83d de00");
conn.URL = base + "s/charset-bom-wins";
checkEqual("the byte order mark wins over the header", units(conn.GetURL()), "78 e9");

conn.URL = base + "s/charset-links.html";
conn.GetURL();
var links = new VBArray(conn.GetHREFs()).toArray();
var names = new VBArray(conn.GetHREFNames).toArray();
checkEqual("a link target", links[0], "/caf" + String.fromCharCode(0xe9) + "?q=" + String.fromCharCode(0xfc));
checkEqual("numeric, hexadecimal and named references", units(names[0]), "43 61 66 e9 e9 20ac 20ac d83d de00");

// The host goes out in its IDNA form; the scenario server serves as proxy.
conn.Proxy = "127.0.0.1:" + env("KESTREL_SCENARIO_PORT");
conn.URL = "http://b" + String.fromCharCode(0xfc) + "cher.example/echo/" + String.fromCharCode(0x65e5);
var echoed = conn.GetURL();
checkEqual("an international host and path", echoed.substr(0, echoed.indexOf("\r\n\r\n")),
           "GET http://xn--bcher-kva.example/echo/%E6%97%A5 HTTP/1.0\r\nHost: xn--bcher-kva.example\r\nAccept: */*");
conn.Proxy = "";

checkEqual("URLEncode of UTF-8", conn.URLEncode(String.fromCharCode(0xe9, 0x20ac)), "%C3%A9%E2%82%AC");
checkEqual("URLDecode to UTF-16", units(conn.URLDecode("%F0%9F%98%80%C3")), "d83d de00 fffd");

conn.Charset = "";
checkEqual("Charset back to \"\"", conn.Charset, "");
conn.URL = base + "s/charset-undeclared-latin";
checkEqual("today's text: one character per byte", conn.GetURL().length, 5);

conn = null;
WScript.Echo("DONE");
