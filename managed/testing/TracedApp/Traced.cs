// Methods selected by Nimbrel.Instrumentation.TraceAttribute: plain ones, generic
// ones (never wrapped), and shapes that are hard to wrap correctly. Whatever the
// profiler decides for each, the program must compute the same output.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Runtime.CompilerServices;
using System.Threading.Tasks;
using Nimbrel.Instrumentation;

namespace Nimbrel.Samples
{
    public class Box<T>
    {
        private T value;
        public Box(T value) { this.value = value; }
        [Trace] public T Get() => value;
        [Trace] public void Set(T v) => value = v;
        [Trace] public int Count(List<T> values) => values.Count;
        [Trace] public string Describe(int n) => "box of " + typeof(T).Name + " x" + n;
        public override string ToString() => "Box(" + value + ")";
    }

    public struct Counter
    {
        private int total;
        [Trace] public Counter(int start) { total = start; }
        [Trace] public int Increment(int by) { total += by; return total; }
        public override string ToString() => "Counter(" + total + ")";
    }

    public ref struct SpanHolder
    {
        public Span<int> Values;
        [Trace] public int First() => Values[0];
    }

    public static class Traced
    {
        [Trace] public static int Sum(int a, int b) => a + b;
        [Trace] public static T Echo<T>(T value) => value;
        [Trace] public static List<T> Twice<T>(T value) => new List<T> { value, value };
        [Trace] public static ref int RefReturn(int[] values, int i) => ref values[i];
        [Trace] public static ref readonly int ReadonlyRefReturn(int[] values, int i) => ref values[i];
        [Trace] public static unsafe int Pointer(int* p) => *p + 1;
        [Trace] public static unsafe int FunctionPointer(delegate*<int, int> f, int x) => f(x);
        [Trace] public static int Typed(TypedReference reference) => __refvalue(reference, int) * 3;
        [Trace] public static int SpanSum(Span<int> values) { int s = 0; foreach (int v in values) s += v; return s; }
        [Trace] public static ReadOnlySpan<char> SpanReturn(string s) => s.AsSpan(1);
        [Trace] public static int? Nullable(int? x) => x.HasValue ? x * 2 : null;
        [Trace] public static (int, string) Tuple(int n, (string, int) pair) => (n + pair.Item2, pair.Item1 + n);
        [Trace] public static int OnlyThrows(int x) => throw new NotSupportedException("only throws " + x);
        [Trace] public static async Task<int> Async(int x) { await Task.Yield(); return x + 1; }
        [Trace] public static IEnumerable<int> Iterator(int n) { for (int i = 0; i < n; i++) yield return i * 3; }
        [Trace] public static int ByRef(ref int x, out string s, in double d) { x *= 2; s = "s" + x; return x + (int)d; }

        [Trace] public static int Many(int p0, int p1, int p2, int p3, int p4, int p5, int p6, int p7, int p8, int p9, int p10, int p11, int p12, int p13, int p14, int p15, int p16, int p17, int p18, int p19, int p20, int p21, int p22, int p23, int p24, int p25, int p26, int p27, int p28, int p29, int p30, int p31, int p32, int p33, int p34, int p35, int p36, int p37, int p38, int p39, int p40, int p41, int p42, int p43, int p44, int p45, int p46, int p47, int p48, int p49, int p50, int p51, int p52, int p53, int p54, int p55, int p56, int p57, int p58, int p59, int p60, int p61, int p62, int p63, int p64, int p65, int p66, int p67, int p68, int p69, int p70, int p71, int p72, int p73, int p74, int p75, int p76, int p77, int p78, int p79, int p80, int p81, int p82, int p83, int p84, int p85, int p86, int p87, int p88, int p89, int p90, int p91, int p92, int p93, int p94, int p95, int p96, int p97, int p98, int p99, int p100, int p101, int p102, int p103, int p104, int p105, int p106, int p107, int p108, int p109, int p110, int p111, int p112, int p113, int p114, int p115, int p116, int p117, int p118, int p119, int p120, int p121, int p122, int p123, int p124, int p125, int p126, int p127, int p128, int p129) => p0 + p1 + p2 + p3 + p4 + p5 + p6 + p7 + p8 + p9 + p10 + p11 + p12 + p13 + p14 + p15 + p16 + p17 + p18 + p19 + p20 + p21 + p22 + p23 + p24 + p25 + p26 + p27 + p28 + p29 + p30 + p31 + p32 + p33 + p34 + p35 + p36 + p37 + p38 + p39 + p40 + p41 + p42 + p43 + p44 + p45 + p46 + p47 + p48 + p49 + p50 + p51 + p52 + p53 + p54 + p55 + p56 + p57 + p58 + p59 + p60 + p61 + p62 + p63 + p64 + p65 + p66 + p67 + p68 + p69 + p70 + p71 + p72 + p73 + p74 + p75 + p76 + p77 + p78 + p79 + p80 + p81 + p82 + p83 + p84 + p85 + p86 + p87 + p88 + p89 + p90 + p91 + p92 + p93 + p94 + p95 + p96 + p97 + p98 + p99 + p100 + p101 + p102 + p103 + p104 + p105 + p106 + p107 + p108 + p109 + p110 + p111 + p112 + p113 + p114 + p115 + p116 + p117 + p118 + p119 + p120 + p121 + p122 + p123 + p124 + p125 + p126 + p127 + p128 + p129;

        [MethodImpl(MethodImplOptions.NoInlining)]
        private static int Next(int x, int i) => x * 31 + i;

        [Trace]
        public static int ManyLocals(int x)
        {
            int v0 = Next(x, 0);
            int v1 = Next(x, 1);
            int v2 = Next(x, 2);
            int v3 = Next(x, 3);
            int v4 = Next(x, 4);
            int v5 = Next(x, 5);
            int v6 = Next(x, 6);
            int v7 = Next(x, 7);
            int v8 = Next(x, 8);
            int v9 = Next(x, 9);
            int v10 = Next(x, 10);
            int v11 = Next(x, 11);
            int v12 = Next(x, 12);
            int v13 = Next(x, 13);
            int v14 = Next(x, 14);
            int v15 = Next(x, 15);
            int v16 = Next(x, 16);
            int v17 = Next(x, 17);
            int v18 = Next(x, 18);
            int v19 = Next(x, 19);
            int v20 = Next(x, 20);
            int v21 = Next(x, 21);
            int v22 = Next(x, 22);
            int v23 = Next(x, 23);
            int v24 = Next(x, 24);
            int v25 = Next(x, 25);
            int v26 = Next(x, 26);
            int v27 = Next(x, 27);
            int v28 = Next(x, 28);
            int v29 = Next(x, 29);
            int v30 = Next(x, 30);
            int v31 = Next(x, 31);
            int v32 = Next(x, 32);
            int v33 = Next(x, 33);
            int v34 = Next(x, 34);
            int v35 = Next(x, 35);
            int v36 = Next(x, 36);
            int v37 = Next(x, 37);
            int v38 = Next(x, 38);
            int v39 = Next(x, 39);
            int v40 = Next(x, 40);
            int v41 = Next(x, 41);
            int v42 = Next(x, 42);
            int v43 = Next(x, 43);
            int v44 = Next(x, 44);
            int v45 = Next(x, 45);
            int v46 = Next(x, 46);
            int v47 = Next(x, 47);
            int v48 = Next(x, 48);
            int v49 = Next(x, 49);
            int v50 = Next(x, 50);
            int v51 = Next(x, 51);
            int v52 = Next(x, 52);
            int v53 = Next(x, 53);
            int v54 = Next(x, 54);
            int v55 = Next(x, 55);
            int v56 = Next(x, 56);
            int v57 = Next(x, 57);
            int v58 = Next(x, 58);
            int v59 = Next(x, 59);
            int v60 = Next(x, 60);
            int v61 = Next(x, 61);
            int v62 = Next(x, 62);
            int v63 = Next(x, 63);
            int v64 = Next(x, 64);
            int v65 = Next(x, 65);
            int v66 = Next(x, 66);
            int v67 = Next(x, 67);
            int v68 = Next(x, 68);
            int v69 = Next(x, 69);
            int v70 = Next(x, 70);
            int v71 = Next(x, 71);
            int v72 = Next(x, 72);
            int v73 = Next(x, 73);
            int v74 = Next(x, 74);
            int v75 = Next(x, 75);
            int v76 = Next(x, 76);
            int v77 = Next(x, 77);
            int v78 = Next(x, 78);
            int v79 = Next(x, 79);
            int v80 = Next(x, 80);
            int v81 = Next(x, 81);
            int v82 = Next(x, 82);
            int v83 = Next(x, 83);
            int v84 = Next(x, 84);
            int v85 = Next(x, 85);
            int v86 = Next(x, 86);
            int v87 = Next(x, 87);
            int v88 = Next(x, 88);
            int v89 = Next(x, 89);
            int v90 = Next(x, 90);
            int v91 = Next(x, 91);
            int v92 = Next(x, 92);
            int v93 = Next(x, 93);
            int v94 = Next(x, 94);
            int v95 = Next(x, 95);
            int v96 = Next(x, 96);
            int v97 = Next(x, 97);
            int v98 = Next(x, 98);
            int v99 = Next(x, 99);
            int v100 = Next(x, 100);
            int v101 = Next(x, 101);
            int v102 = Next(x, 102);
            int v103 = Next(x, 103);
            int v104 = Next(x, 104);
            int v105 = Next(x, 105);
            int v106 = Next(x, 106);
            int v107 = Next(x, 107);
            int v108 = Next(x, 108);
            int v109 = Next(x, 109);
            int v110 = Next(x, 110);
            int v111 = Next(x, 111);
            int v112 = Next(x, 112);
            int v113 = Next(x, 113);
            int v114 = Next(x, 114);
            int v115 = Next(x, 115);
            int v116 = Next(x, 116);
            int v117 = Next(x, 117);
            int v118 = Next(x, 118);
            int v119 = Next(x, 119);
            int v120 = Next(x, 120);
            int v121 = Next(x, 121);
            int v122 = Next(x, 122);
            int v123 = Next(x, 123);
            int v124 = Next(x, 124);
            int v125 = Next(x, 125);
            int v126 = Next(x, 126);
            int v127 = Next(x, 127);
            int v128 = Next(x, 128);
            int v129 = Next(x, 129);
            int v130 = Next(x, 130);
            int v131 = Next(x, 131);
            int v132 = Next(x, 132);
            int v133 = Next(x, 133);
            int v134 = Next(x, 134);
            int v135 = Next(x, 135);
            int v136 = Next(x, 136);
            int v137 = Next(x, 137);
            int v138 = Next(x, 138);
            int v139 = Next(x, 139);
            int v140 = Next(x, 140);
            int v141 = Next(x, 141);
            int v142 = Next(x, 142);
            int v143 = Next(x, 143);
            int v144 = Next(x, 144);
            int v145 = Next(x, 145);
            int v146 = Next(x, 146);
            int v147 = Next(x, 147);
            int v148 = Next(x, 148);
            int v149 = Next(x, 149);
            int v150 = Next(x, 150);
            int v151 = Next(x, 151);
            int v152 = Next(x, 152);
            int v153 = Next(x, 153);
            int v154 = Next(x, 154);
            int v155 = Next(x, 155);
            int v156 = Next(x, 156);
            int v157 = Next(x, 157);
            int v158 = Next(x, 158);
            int v159 = Next(x, 159);
            int v160 = Next(x, 160);
            int v161 = Next(x, 161);
            int v162 = Next(x, 162);
            int v163 = Next(x, 163);
            int v164 = Next(x, 164);
            int v165 = Next(x, 165);
            int v166 = Next(x, 166);
            int v167 = Next(x, 167);
            int v168 = Next(x, 168);
            int v169 = Next(x, 169);
            int v170 = Next(x, 170);
            int v171 = Next(x, 171);
            int v172 = Next(x, 172);
            int v173 = Next(x, 173);
            int v174 = Next(x, 174);
            int v175 = Next(x, 175);
            int v176 = Next(x, 176);
            int v177 = Next(x, 177);
            int v178 = Next(x, 178);
            int v179 = Next(x, 179);
            int v180 = Next(x, 180);
            int v181 = Next(x, 181);
            int v182 = Next(x, 182);
            int v183 = Next(x, 183);
            int v184 = Next(x, 184);
            int v185 = Next(x, 185);
            int v186 = Next(x, 186);
            int v187 = Next(x, 187);
            int v188 = Next(x, 188);
            int v189 = Next(x, 189);
            int v190 = Next(x, 190);
            int v191 = Next(x, 191);
            int v192 = Next(x, 192);
            int v193 = Next(x, 193);
            int v194 = Next(x, 194);
            int v195 = Next(x, 195);
            int v196 = Next(x, 196);
            int v197 = Next(x, 197);
            int v198 = Next(x, 198);
            int v199 = Next(x, 199);
            int v200 = Next(x, 200);
            int v201 = Next(x, 201);
            int v202 = Next(x, 202);
            int v203 = Next(x, 203);
            int v204 = Next(x, 204);
            int v205 = Next(x, 205);
            int v206 = Next(x, 206);
            int v207 = Next(x, 207);
            int v208 = Next(x, 208);
            int v209 = Next(x, 209);
            int v210 = Next(x, 210);
            int v211 = Next(x, 211);
            int v212 = Next(x, 212);
            int v213 = Next(x, 213);
            int v214 = Next(x, 214);
            int v215 = Next(x, 215);
            int v216 = Next(x, 216);
            int v217 = Next(x, 217);
            int v218 = Next(x, 218);
            int v219 = Next(x, 219);
            int v220 = Next(x, 220);
            int v221 = Next(x, 221);
            int v222 = Next(x, 222);
            int v223 = Next(x, 223);
            int v224 = Next(x, 224);
            int v225 = Next(x, 225);
            int v226 = Next(x, 226);
            int v227 = Next(x, 227);
            int v228 = Next(x, 228);
            int v229 = Next(x, 229);
            int v230 = Next(x, 230);
            int v231 = Next(x, 231);
            int v232 = Next(x, 232);
            int v233 = Next(x, 233);
            int v234 = Next(x, 234);
            int v235 = Next(x, 235);
            int v236 = Next(x, 236);
            int v237 = Next(x, 237);
            int v238 = Next(x, 238);
            int v239 = Next(x, 239);
            int v240 = Next(x, 240);
            int v241 = Next(x, 241);
            int v242 = Next(x, 242);
            int v243 = Next(x, 243);
            int v244 = Next(x, 244);
            int v245 = Next(x, 245);
            int v246 = Next(x, 246);
            int v247 = Next(x, 247);
            int v248 = Next(x, 248);
            int v249 = Next(x, 249);
            int v250 = Next(x, 250);
            int v251 = Next(x, 251);
            int v252 = Next(x, 252);
            int v253 = Next(x, 253);
            int v254 = Next(x, 254);
            int v255 = Next(x, 255);
            int v256 = Next(x, 256);
            int v257 = Next(x, 257);
            int v258 = Next(x, 258);
            int v259 = Next(x, 259);
            return v0 + v1 + v2 + v3 + v4 + v5 + v6 + v7 + v8 + v9 + v10 + v11 + v12 + v13 + v14 + v15 + v16 + v17 + v18 + v19 + v20 + v21 + v22 + v23 + v24 + v25 + v26 + v27 + v28 + v29 + v30 + v31 + v32 + v33 + v34 + v35 + v36 + v37 + v38 + v39 + v40 + v41 + v42 + v43 + v44 + v45 + v46 + v47 + v48 + v49 + v50 + v51 + v52 + v53 + v54 + v55 + v56 + v57 + v58 + v59 + v60 + v61 + v62 + v63 + v64 + v65 + v66 + v67 + v68 + v69 + v70 + v71 + v72 + v73 + v74 + v75 + v76 + v77 + v78 + v79 + v80 + v81 + v82 + v83 + v84 + v85 + v86 + v87 + v88 + v89 + v90 + v91 + v92 + v93 + v94 + v95 + v96 + v97 + v98 + v99 + v100 + v101 + v102 + v103 + v104 + v105 + v106 + v107 + v108 + v109 + v110 + v111 + v112 + v113 + v114 + v115 + v116 + v117 + v118 + v119 + v120 + v121 + v122 + v123 + v124 + v125 + v126 + v127 + v128 + v129 + v130 + v131 + v132 + v133 + v134 + v135 + v136 + v137 + v138 + v139 + v140 + v141 + v142 + v143 + v144 + v145 + v146 + v147 + v148 + v149 + v150 + v151 + v152 + v153 + v154 + v155 + v156 + v157 + v158 + v159 + v160 + v161 + v162 + v163 + v164 + v165 + v166 + v167 + v168 + v169 + v170 + v171 + v172 + v173 + v174 + v175 + v176 + v177 + v178 + v179 + v180 + v181 + v182 + v183 + v184 + v185 + v186 + v187 + v188 + v189 + v190 + v191 + v192 + v193 + v194 + v195 + v196 + v197 + v198 + v199 + v200 + v201 + v202 + v203 + v204 + v205 + v206 + v207 + v208 + v209 + v210 + v211 + v212 + v213 + v214 + v215 + v216 + v217 + v218 + v219 + v220 + v221 + v222 + v223 + v224 + v225 + v226 + v227 + v228 + v229 + v230 + v231 + v232 + v233 + v234 + v235 + v236 + v237 + v238 + v239 + v240 + v241 + v242 + v243 + v244 + v245 + v246 + v247 + v248 + v249 + v250 + v251 + v252 + v253 + v254 + v255 + v256 + v257 + v258 + v259;
        }

        private static int Square(int x) => x * x;

        public static unsafe void Run()
        {
            Console.WriteLine("sum: " + Sum(2, 3));
            Console.WriteLine("echo: " + Echo("e") + " " + Echo(5));
            Console.WriteLine("twice: " + string.Join(",", Twice(7)));
            var box = new Box<string>("b");
            box.Set("c");
            Console.WriteLine("box: " + box.Get() + " " + box.Count(new List<string> { "x" }) + " " + box.Describe(3));
            var intBox = new Box<int>(1);
            Console.WriteLine("int box: " + intBox.Get() + " " + intBox.Describe(4));
            var counter = new Counter(10);
            counter.Increment(5);
            Console.WriteLine("counter: " + counter.Increment(1) + " " + counter);
            Span<int> span = stackalloc int[] { 4, 5, 6 };
            var holder = new SpanHolder { Values = span };
            Console.WriteLine("span holder: " + holder.First());
            int[] values = { 1, 2, 3 };
            RefReturn(values, 1) = 20;
            Console.WriteLine("ref return: " + string.Join(",", values) + " " + ReadonlyRefReturn(values, 1));
            int local = 41;
            Console.WriteLine("pointer: " + Pointer(&local));
            Console.WriteLine("function pointer: " + FunctionPointer(&Square, 9));
            int referenced = 7;
            Console.WriteLine("typed reference: " + Typed(__makeref(referenced)));
            Console.WriteLine("span: " + SpanSum(span) + " " + SpanReturn("hello").ToString());
            Console.WriteLine("nullable: " + Nullable(4) + " " + (Nullable(null) == null));
            Console.WriteLine("tuple: " + Tuple(1, ("t", 2)));
            try { OnlyThrows(3); } catch (NotSupportedException e) { Console.WriteLine("only throws: " + e.Message); }
            Console.WriteLine("async: " + Async(4).Result);
            Console.WriteLine("iterator: " + string.Join(",", Iterator(4)));
            int r = 3;
            Console.WriteLine("by ref: " + ByRef(ref r, out string s, 1.5) + " " + r + " " + s);
            Console.WriteLine("many parameters: " + Many(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129));
            Console.WriteLine("many locals: " + ManyLocals(2));
            Console.WriteLine("no type token: " + HazardLib.Primitives.Twice(21, -2));
        }
    }
}
