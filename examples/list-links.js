// Lists the links of a page as a table: each target and the link's text.
// JScript sees the link arrays as VBArray objects: toArray() makes them
// JScript arrays.
// Usage: cscript //nologo list-links.js [URL]
var url = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "http://www.example.com/";

var conn = new ActiveXObject("Kestrel.Conn");
conn.TimeOut = 20;

try {
  conn.URL = url;
} catch (e) {
  WScript.Echo("Bad URL: " + e.description);  // it must start with http:// or https://
  WScript.Quit(2);
}

var body = conn.GetURL();
if (body === "" && conn.Error !== "") {
  WScript.Echo("Failed: " + conn.Error);
  WScript.Quit(1);
}

var targets = new VBArray(conn.GetHREFs()).toArray();
var texts = new VBArray(conn.GetHREFNames).toArray();  // a property: no ()
if (conn.Error !== "") {
  WScript.Echo("Failed: " + conn.Error);
  WScript.Quit(1);
}

WScript.Echo(targets.length + " links on " + url);
if (targets.length > 0) {
  var width = "Target".length;
  for (var i = 0; i < targets.length; i++) width = Math.max(width, targets[i].length);
  width = Math.min(width, 60);
  WScript.Echo(pad("Target", width) + "  Text");
  WScript.Echo(repeat("-", width) + "  " + repeat("-", 30));
  for (var i = 0; i < targets.length; i++) WScript.Echo(pad(targets[i], width) + "  " + texts[i]);
}

function repeat(text, count) {
  var out = "";
  while (out.length < count) out += text;
  return out;
}

// The text padded with blanks to the width; a longer text is left whole.
function pad(text, width) {
  return text.length < width ? text + repeat(" ", width - text.length) : text;
}
