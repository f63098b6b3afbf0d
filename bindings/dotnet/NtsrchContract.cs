// SPDX-License-Identifier: MIT
// Every row of bindings/contract/cases.json against the .NET wrapper: each row with string
// text, or, when it holds bytes, as byte[], ReadOnlySpan<byte> and ReadOnlyMemory<byte>
// (inside a larger buffer), then through the Task variant. Prints "pass", "fail" or
// "skip ...: what it lacks" per row.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Linq;
using System.Runtime.ExceptionServices;
using System.Text;
using System.Threading.Tasks;
using Ntsrch;

static class NtsrchContract
{
    static readonly HashSet<string> Have = new HashSet<string> { "utf16" };

    static readonly Dictionary<string, string> ParamNames = new Dictionary<string, string>
    {
        { "query", "query" }, { "base_url", "baseUrl" }, { "tracks", "tracksJson" },
        { "downloaded", "downloadedJson" }, { "unified", "json" }, { "downloaded_only", "downloadedOnly" },
        { "sort", "sort" },
    };

    sealed class Skip : Exception
    {
        public Skip(string why) : base(why) { }
    }

    // ---- a small JSON reader: objects (Dictionary), arrays (List), string, long, double, bool, null.
    sealed class Json
    {
        readonly string s;
        int i;
        Json(string text) { s = text; }
        public static object Parse(string text)
        {
            var j = new Json(text);
            object v = j.Value();
            j.Space();
            if (j.i != j.s.Length) throw new FormatException("text after the JSON value at " + j.i);
            return v;
        }
        void Space() { while (i < s.Length && char.IsWhiteSpace(s[i])) i++; }
        void Expect(char c) { Space(); if (i >= s.Length || s[i] != c) throw new FormatException("want '" + c + "' at " + i); i++; }
        object Value()
        {
            Space();
            char c = s[i];
            if (c == '{')
            {
                var o = new Dictionary<string, object>();
                i++;
                Space();
                if (s[i] == '}') { i++; return o; }
                while (true)
                {
                    Space();
                    string k = Str();
                    Expect(':');
                    o[k] = Value();
                    Space();
                    if (s[i++] == '}') return o;
                }
            }
            if (c == '[')
            {
                var a = new List<object>();
                i++;
                Space();
                if (s[i] == ']') { i++; return a; }
                while (true)
                {
                    a.Add(Value());
                    Space();
                    if (s[i++] == ']') return a;
                }
            }
            if (c == '"') return Str();
            foreach (var lit in new[] { Tuple.Create("true", (object)true), Tuple.Create("false", (object)false), Tuple.Create("null", (object)null) })
                if (string.CompareOrdinal(s, i, lit.Item1, 0, lit.Item1.Length) == 0) { i += lit.Item1.Length; return lit.Item2; }
            int start = i;
            while (i < s.Length && "+-0123456789.eE".IndexOf(s[i]) >= 0) i++;
            string n = s.Substring(start, i - start);
            long l;
            if (long.TryParse(n, NumberStyles.AllowLeadingSign, CultureInfo.InvariantCulture, out l)) return l;
            return double.Parse(n, CultureInfo.InvariantCulture);
        }
        string Str()
        {
            Expect('"');
            var b = new StringBuilder();
            while (s[i] != '"')
            {
                char c = s[i++];
                if (c != '\\') { b.Append(c); continue; }
                char e = s[i++];
                switch (e)
                {
                    case 'n': b.Append('\n'); break;
                    case 't': b.Append('\t'); break;
                    case 'r': b.Append('\r'); break;
                    case 'b': b.Append('\b'); break;
                    case 'f': b.Append('\f'); break;
                    case 'u': b.Append((char)Convert.ToInt32(s.Substring(i, 4), 16)); i += 4; break;
                    default: b.Append(e); break;
                }
            }
            i++;
            return b.ToString();
        }
    }

    static byte[] FromHex(string hex)
    {
        var b = new byte[hex.Length / 2];
        for (int k = 0; k < b.Length; k++) b[k] = Convert.ToByte(hex.Substring(2 * k, 2), 16);
        return b;
    }

    // A text argument: a string, UTF-8 bytes, or null.
    static object Text(Dictionary<string, object> args, string name, out bool given)
    {
        object argument;
        given = args.TryGetValue(name, out argument);
        if (!given || argument == null) return null;
        var d = (Dictionary<string, object>)argument;
        if (d.ContainsKey("text")) return (string)d["text"];
        if (d.ContainsKey("utf16")) return new string(((List<object>)d["utf16"]).Select(u => (char)(long)u).ToArray());
        if (d.ContainsKey("bytes_hex")) return FromHex((string)d["bytes_hex"]);
        throw new Skip("no " + string.Join(",", d.Keys) + " argument for " + name + " in .NET");
    }

    // The row's call in one form of text: "string", "byte[]", "ReadOnlySpan" or "ReadOnlyMemory".
    static object Invoke(Dictionary<string, object> row, string form, bool async)
    {
        var args = (Dictionary<string, object>)row["args"];
        string call = (string)row["call"];
        bool bytesOut = row.ContainsKey("output") && (string)row["output"] == "bytes";
        string[] names = call == "build_search_url" ? new[] { "query", "base_url" }
            : call == "filter_and_sort_tracks" ? new[] { "tracks", "query", "downloaded" } : new[] { "unified" };
        var text = new List<object>();
        foreach (string n in names)
        {
            bool given;
            object v = Text(args, n, out given);
            if (form != "string" && v is string) v = Encoding.UTF8.GetBytes((string)v);
            if ((form == "ReadOnlySpan" || form == "ReadOnlyMemory") && v == null && given)
                throw new Skip("a " + form + " cannot be null");
            text.Add(v);
        }
        bool only = false;
        int sort = 0;
        object argument;
        if (args.TryGetValue("downloaded_only", out argument)) only = (bool)((Dictionary<string, object>)argument)["bool"];
        if (args.TryGetValue("sort", out argument)) sort = checked((int)(long)((Dictionary<string, object>)argument)["int"]);
        var mode = (SortMode)sort;
        Func<object, ReadOnlyMemory<byte>> mem = v =>
        {
            if (v == null) return default(ReadOnlyMemory<byte>);
            var b = (byte[])v;
            var big = new byte[b.Length + 4];
            Array.Copy(b, 0, big, 2, b.Length);
            return new ReadOnlyMemory<byte>(big, 2, b.Length);
        };
        if (form == "ReadOnlySpan")
        {
            var m = text.Select(mem).ToArray();
            if (call == "build_search_url")
                return bytesOut ? (object)Module.SearchUrlBytes(m[0].Span, m[1].Span) : Module.SearchUrl(m[0].Span, m[1].Span);
            if (call == "filter_and_sort_tracks")
                return bytesOut ? (object)Module.FilterTracksBytes(m[0].Span, m[1].Span, only, m[2].Span, mode)
                    : Module.FilterTracks(m[0].Span, m[1].Span, only, m[2].Span, mode);
            return bytesOut ? (object)Module.NormalizeBytes(m[0].Span) : Module.Normalize(m[0].Span);
        }
        // The other forms name their overload: the text parameters take the form's type
        // (byte[] has no Task variant), so one lookup serves them all. A span cannot be boxed.
        Type textType = form == "string" ? typeof(string) : form == "byte[]" ? typeof(byte[]) : typeof(ReadOnlyMemory<byte>);
        object[] texts = form == "ReadOnlyMemory" ? text.Select(v => (object)mem(v)).ToArray() : text.ToArray();
        object[] values = call == "filter_and_sort_tracks" ? new object[] { texts[0], texts[1], only, texts[2], mode } : texts;
        string name = (call == "build_search_url" ? "SearchUrl" : call == "filter_and_sort_tracks" ? "FilterTracks" : "Normalize")
            + (bytesOut ? "Bytes" : "") + (async && form != "byte[]" ? "Async" : "");
        Type[] types = values.Select(v => v is bool ? typeof(bool) : v is SortMode ? typeof(SortMode) : textType).ToArray();
        try
        {
            return typeof(Module).GetMethod(name, types).Invoke(null, values);
        }
        catch (System.Reflection.TargetInvocationException e)
        {
            ExceptionDispatchInfo.Capture(e.InnerException).Throw();
            throw;
        }
    }

    // null when the outcome is the row's, else what happened.
    static string Outcome(Dictionary<string, object> row, object got, Exception thrown, bool sync, bool viaTask)
    {
        if (row.ContainsKey("result"))
        {
            if (thrown != null) return "threw " + thrown.GetType().Name + ": " + thrown.Message;
            var result = (Dictionary<string, object>)row["result"];
            byte[] want = result.ContainsKey("bytes_hex") ? FromHex((string)result["bytes_hex"]) : Encoding.UTF8.GetBytes((string)result["text"]);
            byte[] have = got as byte[] ?? Encoding.UTF8.GetBytes((string)got);
            if (got is string && result.ContainsKey("bytes_hex")) return "a string for bytes output";
            return want.SequenceEqual(have) ? null : "got <" + Encoding.UTF8.GetString(have) + ">, want <" + Encoding.UTF8.GetString(want) + ">";
        }
        var error = (Dictionary<string, object>)row["error"];
        string kind = (string)error["kind"];
        if (thrown == null) return "no exception, returned <" + got + ">";
        object message;
        error.TryGetValue("message", out message);
        if (kind == "refused")
        {
            var e = thrown as NtsrchException;
            if (e == null) return "threw " + thrown.GetType().Name + ": " + thrown.Message;
            if (error.ContainsKey("function") && e.Function != (string)error["function"]) return "function " + e.Function;
            if (message != null && e.LastError != (string)message) return "LastError <" + e.LastError + ">, want <" + message + ">";
            return !sync || message == null || Module.LastError == (string)message ? null : "Module.LastError <" + Module.LastError + ">";
        }
        if (kind == "out_of_memory") return thrown is OutOfMemoryException ? null : "threw " + thrown.GetType().Name;
        // The wrapper's own refusals: an ArgumentException, never the module's NtsrchException.
        if (viaTask) return "the task faulted with " + thrown.GetType().Name + ": bad arguments throw before a task exists";
        var arg = thrown as ArgumentException;
        if (arg == null || thrown is NtsrchException || (kind == "range") != (thrown is ArgumentOutOfRangeException))
            return "threw " + thrown.GetType().Name + ": " + thrown.Message + ", want " + kind;
        string param = ParamNames[(string)error["param"]];
        string prefix = param + (error.ContainsKey("path") ? (string)error["path"] : "") + ": " + (message ?? "");
        if (arg.ParamName != param) return "parameter <" + arg.ParamName + ">, want <" + param + ">";
        if (!arg.Message.StartsWith(prefix)) return "message <" + arg.Message + ">, want <" + prefix + ">";
        return !sync || Module.LastError == "empty query" ? null : "a call was made: LastError <" + Module.LastError + ">";
    }

    static string RunOnce(Dictionary<string, object> row, string form, bool async)
    {
        try
        {
            Module.SearchUrl("   ");
        }
        catch (NtsrchException)
        {
            // "empty query": the mark that no later call was made.
        }
        object got = null;
        Exception thrown = null;
        bool viaTask = false;
        try
        {
            got = Invoke(row, form, async);
            var task = got as Task;
            if (task != null)
            {
                task.Wait();
                got = task is Task<string> ? (object)((Task<string>)task).Result : ((Task<byte[]>)task).Result;
            }
        }
        catch (AggregateException e)
        {
            thrown = e.InnerException;
            viaTask = true;
        }
        catch (Skip)
        {
            throw;
        }
        catch (Exception e)
        {
            thrown = e;
        }
        string why = Outcome(row, got, thrown, !async, viaTask);
        return why == null ? null : form + (async ? " async" : "") + ": " + why.Replace("\n", " ");
    }

    // Runs every row; returns the number that failed.
    public static int Run(string casesFile, Action<string, string> report)
    {
        var doc = (Dictionary<string, object>)Json.Parse(System.IO.File.ReadAllText(casesFile, Encoding.UTF8));
        int failed = 0;
        foreach (Dictionary<string, object> row in (List<object>)doc["cases"])
        {
            string name = "dotnet.contract." + row["name"];
            object needs;
            var lacking = row.TryGetValue("needs", out needs)
                ? ((List<object>)needs).Cast<string>().Where(n => !Have.Contains(n)).ToList() : new List<string>();
            if (lacking.Count > 0)
            {
                report("skip", name + ": lacks " + string.Join(", ", lacking));
                continue;
            }
            var args = (Dictionary<string, object>)row["args"];
            bool bytes = args.Values.Any(a => a is Dictionary<string, object> && ((Dictionary<string, object>)a).ContainsKey("bytes_hex"));
            string why = null;
            var skipped = new List<string>();
            foreach (string form in bytes ? new[] { "byte[]", "ReadOnlySpan", "ReadOnlyMemory" } : new[] { "string" })
            {
                foreach (bool async in form == "string" || form == "ReadOnlyMemory" ? new[] { false, true } : new[] { false })
                {
                    try
                    {
                        why = why ?? RunOnce(row, form, async);
                    }
                    catch (Skip e)
                    {
                        if (!skipped.Contains(e.Message)) skipped.Add(e.Message);
                    }
                }
            }
            if (why != null)
            {
                failed++;
                report("fail", name + ": " + why);
            }
            else if (skipped.Count > 0 && !bytes)
                report("skip", name + ": " + string.Join("; ", skipped));
            else
                report("pass", name + (skipped.Count > 0 ? " (" + string.Join("; ", skipped) + ")" : ""));
        }
        return failed;
    }
}
