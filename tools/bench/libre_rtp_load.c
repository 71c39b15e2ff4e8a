/* The media cost of dialling in process: N RTP streams of PCMU (160 bytes every 20 ms) sent
   from one libre event loop to a sink socket on loopback. Prints the memory the streams add
   and the CPU they use. Not part of the build (Debian's libre.pc lacks two defines):
     cc -O2 -DHAVE_INTTYPES_H -DHAVE_INET6 $(pkg-config --cflags libre) \
       tools/bench/libre_rtp_load.c -o build/libre_rtp_load $(pkg-config --libs libre)
     build/libre_rtp_load 200 10      # streams, seconds */
#include <re.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

struct stream { struct rtp_sock *rtp; struct tmr tmr; uint32_t ts; struct sa dst; };
static int g_n; static uint64_t g_sent;
static long rss_kb(void) { FILE *f = fopen("/proc/self/status", "r"); char l[256]; long v = 0;
  while (fgets(l, sizeof l, f)) if (!strncmp(l, "VmRSS:", 6)) v = atol(l + 6); fclose(f); return v; }
static void tick(void *arg) {
  struct stream *s = arg; struct mbuf *mb = mbuf_alloc(RTP_HEADER_SIZE + 160);
  mb->pos = RTP_HEADER_SIZE; memset(mbuf_buf(mb), 0xff, 160); mb->end = RTP_HEADER_SIZE + 160;
  mb->pos = RTP_HEADER_SIZE;
  rtp_send(s->rtp, &s->dst, false, false, 0, s->ts, mb); s->ts += 160; ++g_sent; mem_deref(mb);
  tmr_start(&s->tmr, 20, tick, s);
}
static void stop(void *arg) { (void)arg; re_cancel(); }
int main(int argc, char **argv) {
  g_n = argc > 1 ? atoi(argv[1]) : 100; int secs = argc > 2 ? atoi(argv[2]) : 10;
  libre_init(); struct sa laddr, sink; sa_set_str(&laddr, "127.0.0.1", 0); sa_set_str(&sink, "127.0.0.1", 9);
  struct udp_sock *us; udp_listen(&us, &laddr, NULL, NULL); udp_local_get(us, &sink);
  long before = rss_kb();
  struct stream *st = calloc(g_n, sizeof *st);
  for (int i = 0; i < g_n; ++i) { rtp_listen(&st[i].rtp, IPPROTO_UDP, &laddr, 20000, 40000, true, NULL, NULL, NULL);
    st[i].dst = sink; tmr_init(&st[i].tmr); tmr_start(&st[i].tmr, i % 20, tick, &st[i]); }
  long after = rss_kb();
  struct tmr end; tmr_init(&end); tmr_start(&end, secs * 1000, stop, NULL);
  struct rusage r0, r1; getrusage(RUSAGE_SELF, &r0); re_main(NULL); getrusage(RUSAGE_SELF, &r1);
  double cpu = (r1.ru_utime.tv_sec - r0.ru_utime.tv_sec) + (r1.ru_stime.tv_sec - r0.ru_stime.tv_sec) +
               ((r1.ru_utime.tv_usec - r0.ru_utime.tv_usec) + (r1.ru_stime.tv_usec - r0.ru_stime.tv_usec)) / 1e6;
  printf("streams %d: rss %ld kB before, %ld kB after (%.1f kB a stream); %llu packets in %d s; cpu %.3f s = %.3f %% of a core a stream\n",
         g_n, before, rss_kb(), (double)(rss_kb() - before) / g_n, (unsigned long long)g_sent, secs, cpu, 100.0 * cpu / secs / g_n);
  (void)after; return 0;
}
