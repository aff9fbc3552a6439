// THttpClient's compressed bodies: with Compression on, a body whose
// Content-Encoding is gzip, x-gzip or deflate is decoded as its bytes arrive.
// The received bytes wait in FRawBody only until the decoder takes them (each
// piece ReadBlock appends), and the decoded bytes go to Body, or to
// DecodedBodyFile when one is named. Headers keep the server's lines as sent.
#include "http/HttpClient.h"

#include "codecs/Files.h"

#include <cstdio>

void THttpClient::StartDecoding() {
  FBodyInFile = false;
  if (!Compression) return;
  const TContentCoding coding = ParseContentCoding(Headers.GetFieldValue("Content-Encoding"));
  if (coding != TContentCoding::Gzip && coding != TContentCoding::Deflate) return;
  FRawBody.ClearKeepingRoom();
  if (!DecodedBodyFile.empty()) {
    // The platform reads a name up to a NUL: the bytes would land in another file.
    if (DecodedBodyFile.find('\0') == std::string::npos) FDecodedFile = OpenFileUtf8(DecodedBodyFile, "wb");
    if (!FDecodedFile) throw EInOutError("Cannot create file " + DecodedBodyFile);
    FBodyInFile = true;
  } else {
    // Growth in doubling steps stops at the bound instead of going past it.
    Body.SetExpectedSize(MaxDecodedBody);
  }
  FDecoder.reset(new TContentDecoder(coding, [this](const char* data, size_t size) { WriteDecoded(data, size); }));
}

void THttpClient::WriteDecoded(const char* Data, size_t Size) {
  if (FDecodedFile) {
    if (std::fwrite(Data, 1, Size, FDecodedFile) != Size) throw EInOutError("Cannot write file " + DecodedBodyFile);
    return;
  }
  // A few kilobytes can expand to gigabytes: the body is refused before it
  // takes more memory than a result may hold.
  if (Body.Size() + static_cast<int64_t>(Size) > MaxDecodedBody)
    RaiseErrorText("The decoded body is larger than 256 MB; save it to a file with SaveFileTo");
  Body.SetPosition(Body.Size());
  Body.Write(Data, Size);
}

void THttpClient::BlockArrived(TMemoryStream& Stream) {
  if (FDecoder && &Stream == &FRawBody) DecodeRawBody();
}

void THttpClient::DecodeRawBody() {
  try {
    FDecoder->Feed(FRawBody.Memory(), static_cast<size_t>(FRawBody.Size()));
  } catch (const EContentDecodingError& e) {
    RaiseErrorText(e.Message());
  }
  FRawBody.ClearKeepingRoom();
}

void THttpClient::FinishDecoding() {
  if (!FDecoder) return;
  DecodeRawBody();
  try {
    FDecoder->Finish();
  } catch (const EContentDecodingError& e) {
    RaiseErrorText(e.Message());
  }
  FDecoder.reset();
  FRawBody.ReleaseUnusedRoom();
  if (FDecodedFile) {
    FILE* file = FDecodedFile;
    FDecodedFile = nullptr;
    if (std::fclose(file) != 0) {
      RemoveFileUtf8(DecodedBodyFile);
      throw EInOutError("Cannot write file " + DecodedBodyFile);
    }
  }
}

// A body that failed while being decoded gives an empty result: neither a
// part of it in Body nor a part in the file.
void THttpClient::AbandonDecoding() {
  if (!FDecoder) return;
  FDecoder.reset();
  FRawBody.Clear();
  Body.Clear();
  if (FDecodedFile) {
    std::fclose(FDecodedFile);
    FDecodedFile = nullptr;
    RemoveFileUtf8(DecodedBodyFile);
  }
  FBodyInFile = false;
}
