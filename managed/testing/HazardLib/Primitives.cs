namespace HazardLib
{
    public static class Primitives
    {
        [Nimbrel.Instrumentation.Trace]
        public static ushort Twice(ushort value, sbyte offset) => (ushort)(value * 2 + offset);
    }
}
