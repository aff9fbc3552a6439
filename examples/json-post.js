// Sends JSON with POST and prints the answer. Text outside ASCII goes out
// as UTF-8, as JSON requires, and the answer is read in its own charset.
// Usage: cscript //nologo json-post.js [URL]
var url = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "http://www.example.com/";

var conn = new ActiveXObject("Kestrel.Conn");
conn.TimeOut = 20;
// Texts go out and come in by their charset instead of the ANSI code page.
conn.Charset = "auto";

try {
  conn.URL = url;
} catch (e) {
  WScript.Echo("Bad URL: " + e.message);
  WScript.Quit(2);
}

var payload = '{"name": "Zo\u00eb", "city": "Z\u00fcrich", "note": "\u20ac 5"}';
conn.RequestMethod = "POST";
conn.ContentType = "application/json";
conn.Accept = "application/json";
conn.PostData = payload;

var body = conn.GetURL();
if (body == "" && conn.Error != "") {
  WScript.Echo("Failed: " + conn.Error);
  WScript.Quit(1);
}

WScript.Echo("Sent:    " + payload.length + " characters of JSON");
WScript.Echo("Status:  " + conn.Response);
WScript.Echo("Charset: " + conn.ResponseCharset);
WScript.Echo("");
WScript.Echo(body);
